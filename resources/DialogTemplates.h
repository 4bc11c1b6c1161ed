// The program's dialog templates: the main window, the About box and the five panels.
#pragma once

#include "platform/DialogTemplate.h"

namespace ids {

// Templates.
constexpr int kAboutTemplate = 100;
constexpr int kMainWindowTemplate = 102;
constexpr int kPasswordTemplate = 129;
constexpr int kPictureCheckTemplate = 130;
constexpr int kListTemplate = 131;
constexpr int kNameTemplate = 132;
constexpr int kPictureChoiceTemplate = 133;

// Controls.
constexpr int kOk = 1;
constexpr int kCancel = 2;
constexpr int kNameList = 1001;
constexpr int kAddButton = 1002;
constexpr int kDeleteButton = 1003;
constexpr int kModifyButton = 1004;
constexpr int kNameEdit = 1006;
constexpr int kPrompt = 1007;
constexpr int kChoosePictureButton = 1008;
constexpr int kChangeMasterButton = 1010;
constexpr int kExitButton = 1011;
constexpr int kCopyButton = 1012;
constexpr int kClearClipboardButton = 1013;
constexpr int kHelpLink = 1015;
constexpr int kFaceLink = 1016;
constexpr int kSiteLink = 1017;
constexpr int kSelectedNameBox = 1020;

}  // namespace ids

const platform::DialogTemplate& AboutTemplate();
const platform::DialogTemplate& MainWindowTemplate();
const platform::DialogTemplate& PasswordTemplate();
const platform::DialogTemplate& PictureCheckTemplate();
const platform::DialogTemplate& ListTemplate();
const platform::DialogTemplate& NameTemplate();
const platform::DialogTemplate& PictureChoiceTemplate();
