#include "resources/DialogTemplates.h"

#include "resources/Texts.h"

using platform::ControlKind;
using platform::DialogTemplate;
using platform::kNoControlId;
using platform::WindowKind;

namespace {

constexpr char kFont[] = "宋体";
constexpr int kFontPoints = 9;
constexpr bool kFlat = true;

}  // namespace

const DialogTemplate& AboutTemplate() {
    static const DialogTemplate dialog{
        ids::kAboutTemplate,
        WindowKind::TopLevel,
        "关于 ferrocask",
        235,
        55,
        kFont,
        kFontPoints,
        {
            {kNoControlId, ControlKind::StaticLeft, "ferrocask 1.0 版", 40, 10, 119, 8, false},
            {ids::kOk, ControlKind::DefaultPushButton, "确定", 178, 7, 50, 16, false},
        }};
    return dialog;
}

const DialogTemplate& MainWindowTemplate() {
    static const DialogTemplate dialog{
        ids::kMainWindowTemplate,
        WindowKind::TopLevel,
        texts::kMainWindowCaption,
        321,
        210,
        kFont,
        kFontPoints,
        {
            {kNoControlId, ControlKind::GroupBox, "", 0, 140, 321, 69, false},
            {ids::kFaceLink, ControlKind::DefaultPushButton, "人脸识别，寻美女帅哥", 3, 147, 100,
             38, kFlat},
            {ids::kSiteLink, ControlKind::PushButton, "访问官网，我们会更有动力", 110, 147, 100, 38,
             kFlat},
            {ids::kHelpLink, ControlKind::PushButton, "看帮助，更好的保护密码", 217, 147, 100, 38,
             kFlat},
        }};
    return dialog;
}

const DialogTemplate& PasswordTemplate() {
    static const DialogTemplate dialog{
        ids::kPasswordTemplate,
        WindowKind::Child,
        "",
        320,
        118,
        kFont,
        kFontPoints,
        {
            {ids::kOk, ControlKind::DefaultPushButton, "确定", 134, 97, 50, 14, kFlat},
            {ids::kPrompt, ControlKind::StaticCentred, "Static", 71, 7, 179, 21, false},
        }};
    return dialog;
}

const DialogTemplate& PictureCheckTemplate() {
    static const DialogTemplate dialog{
        ids::kPictureCheckTemplate,
        WindowKind::Child,
        "",
        320,
        118,
        kFont,
        kFontPoints,
        {
            {ids::kOk, ControlKind::DefaultPushButton, "看到", 75, 97, 50, 14, kFlat},
            {ids::kCancel, ControlKind::PushButton, "没看到", 213, 97, 50, 14, kFlat},
            {ids::kPrompt, ControlKind::StaticLeft, "Static", 169, 18, 98, 53, false},
        }};
    return dialog;
}

const DialogTemplate& ListTemplate() {
    static const DialogTemplate dialog{
        ids::kListTemplate,
        WindowKind::Child,
        "",
        320,
        130,
        kFont,
        kFontPoints,
        {
            {ids::kNameList, ControlKind::ListBox, "", 5, 45, 226, 59, false},
            {ids::kAddButton, ControlKind::DefaultPushButton, "增加密码", 5, 109, 36, 14, kFlat},
            {ids::kModifyButton, ControlKind::PushButton, "修改密码", 49, 109, 36, 14, kFlat},
            {ids::kDeleteButton, ControlKind::PushButton, "删除密码", 91, 109, 36, 14, kFlat},
            {ids::kCopyButton, ControlKind::PushButton, "拷至粘贴板", 133, 109, 46, 14, kFlat},
            {ids::kClearClipboardButton, ControlKind::PushButton, "清空粘贴板", 185, 109, 46, 14,
             kFlat},
            {ids::kChangeMasterButton, ControlKind::PushButton, "修改保险柜密码", 249, 109, 64, 14,
             kFlat},
            {ids::kExitButton, ControlKind::PushButton, "退出", 249, 30, 64, 59, kFlat},
            {ids::kSelectedNameBox, ControlKind::Edit, "", 75, 30, 156, 14, false},
            {kNoControlId, ControlKind::StaticLeft, "显示选中密码名字", 5, 33, 66, 8, false},
        }};
    return dialog;
}

const DialogTemplate& NameTemplate() {
    static const DialogTemplate dialog{
        ids::kNameTemplate,
        WindowKind::Child,
        "",
        320,
        118,
        kFont,
        kFontPoints,
        {
            {ids::kOk, ControlKind::DefaultPushButton, "确定", 141, 97, 50, 14, kFlat},
            {ids::kNameEdit, ControlKind::Edit, "", 147, 31, 91, 14, false},
            {kNoControlId, ControlKind::StaticLeft, "密码的名字", 95, 34, 45, 8, false},
        }};
    return dialog;
}

const DialogTemplate& PictureChoiceTemplate() {
    static const DialogTemplate dialog{
        ids::kPictureChoiceTemplate,
        WindowKind::Child,
        "",
        320,
        118,
        kFont,
        kFontPoints,
        {
            {ids::kChoosePictureButton, ControlKind::DefaultPushButton, "选择图片", 71, 97, 50, 14,
             kFlat},
            {ids::kOk, ControlKind::PushButton, "看到图片", 205, 97, 50, 14, kFlat},
            {ids::kPrompt, ControlKind::StaticLeft, "Static", 171, 7, 123, 77, false},
        }};
    return dialog;
}
