// Every text the vault dialogue shows, in UTF-8, exactly as the user sees it. Line breaks
// are written "\r\n"; the platform layer shows each as one break.
#pragma once

namespace texts {

// Captions.
inline constexpr char kMainWindowCaption[] = "墨岩保险柜 1.0.1.0";
inline constexpr char kAppMessageCaption[] = "ferrocask";
inline constexpr char kNoticeCaption[] = "提示";
inline constexpr char kAboutMenuItem[] = "关于 ferrocask(&A)...";

// Prompts of the password panel.
inline constexpr char kEnterVaultPassword[] = "请输入保险柜密码";
inline constexpr char kSetUpVaultPassword[] =
    "请设置保险柜密码，这是您需要记住的唯一密码\r\n密码长度至少是8，且必须包含字母和数字";
inline constexpr char kConfirmVaultPassword[] = "请确认保险柜密码";
inline constexpr char kSetVaultPassword[] = "请设置保险柜密码";
inline constexpr char kEnterOldVaultPassword[] = "请输入旧的保险柜密码";
inline constexpr char kSetPassword[] = "请设置密码";
inline constexpr char kConfirmPassword[] = "请确认密码";
inline constexpr char kResetSelectedPassword[] = "请为选中项重新设置密码";

// Prompts of the picture panels.
inline constexpr char kPictureNotSeenAdvice[] =
    "没有看到您设定的图片，\r\n表明您输入密码错误，\r\n或者密码数据库被破坏\r\n\r\n"
    "点没看到按钮重新输入密码";
inline constexpr char kChoosePictureInstructions[] =
    "请点选择图片按钮选择一个图片，至少32*32，\r\n左侧出现选中图片后，点看到图片按钮。\r\n\r\n"
    "当您下次输入密码打开保险柜时，\r\n如果看到这个图片，表明密码正确";

// Messages.
inline constexpr char kPasswordsDiffer[] = "两次输入的密码不相同";
inline constexpr char kPasswordTooShort[] = "密码长度小于8";
inline constexpr char kPasswordWithoutDigit[] = "输入的密码没有包含数字";
inline constexpr char kPasswordWithoutLetter[] = "输入的密码没有包含字母";
inline constexpr char kPasswordEmpty[] = "密码为空";
inline constexpr char kVaultPasswordIncorrect[] = "保险柜密码不正确";
inline constexpr char kSetMasterPasswordFailed[] =
    "未能成功设置保险柜密码，ferrocask.db没有被修改。\r\n请检查磁盘空间和文件夹的写入权限";
inline constexpr char kChangeMasterPasswordFailed[] =
    "未能成功修改保险柜密码，保险柜没有改变，仍然使用原来的保险柜密码。\r\n"
    "请检查磁盘空间和文件夹的写入权限";
inline constexpr char kVaultNotChanged[] =
    "未能保存修改，保险柜没有改变。\r\n请检查磁盘空间和ferrocask.db所在文件夹的写入权限";
// %s stands for the vault file's full path.
inline constexpr char kVaultFileUnreadable[] =
    "无法读取保险柜文件：\r\n%s\r\n\r\n这个文件已损坏，或者不是保险柜文件，或者没有读取权限。"
    "墨岩保险柜没有修改它，也不会重新设置保险柜。\r\n请检查这个文件，或者将备份的文件拷贝回来";
inline constexpr char kSetMasterPasswordDone[] = "成功设置保险柜密码，请定期备份ferrocask.db文件";
inline constexpr char kNothingSelected[] = "没有选中密码";
inline constexpr char kCopyWarning[] =
    "请确认选中的密码不重要，因为粘贴板可能被浏览器以外的其他程序读取。\r\n"
    "在浏览器中粘贴之后，请立即点清空粘贴板按钮";
inline constexpr char kPictureCannotBeImported[] = "您选择的图片文件无法导入，请重新选择一个图片";
inline constexpr char kNoPictureChosen[] = "您还没有选择图片，请选择一个图片";
inline constexpr char kVaultAlreadyOpen[] =
    "墨岩保险柜已经在运行，这个保险柜已被打开。\r\n请使用已经打开的窗口，不要同时运行两个墨岩保险"
    "柜";

// Drawn by the panels themselves.
inline constexpr char kShiftKey[] = "上档键";
inline constexpr char kHoldAreaHint[] = "鼠标左键点此并按住，显示选中密码";

// The open-file dialog's filter, in the form "description|pattern|...||".
inline constexpr char kPictureFileFilter[] =
    "jpg Fliex(*.jpg)|*.jpg|gif Fliex(*.gif)|*.gif|bmp Fliex(*.bmp)|*.bmp|dib Fliex(*.dib)|*.dib|"
    "All Files (*.*)|*.*||";

}  // namespace texts
