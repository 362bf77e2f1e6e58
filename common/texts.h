// Every Persian text the updater shows, in one place so that each can be
// checked against the wording the vendor approved. They are kept exactly as
// approved: no zero-width non-joiner is added.
#pragma once

namespace texts {

// Window caption: "Updater of the accounting software".
inline constexpr const wchar_t* kWindowTitle = L"بهروزرسان نرم اقزار حسابداری زلوار";
// Notes box, first line: "Client version: ".
inline constexpr const wchar_t* kClientVersionLabel = L"نسخه کلاینت: ";
// Notes box, second line: "Server version: ".
inline constexpr const wchar_t* kServerVersionLabel = L"نسخه سرور: ";
// "Start the update".
inline constexpr const wchar_t* kStartButtonText = L"آغاز بهروزرسانی";
// "I will update later".
inline constexpr const wchar_t* kLaterButtonText = L"بعدا بهروز میکنم";
// "Downloading the update...".
inline constexpr const wchar_t* kStatusDownloading = L"در حال دانلود بهروزرسانی...";
// "The download failed".
inline constexpr const wchar_t* kStatusDownloadFailed = L"دانلود ناموفق بود";
// "Installing...".
inline constexpr const wchar_t* kStatusInstalling = L"در حال نصب...";
// "An error occurred while starting the update operation".
inline constexpr const wchar_t* kStartUpdateError = L"وقوع خطا در آغاز عملیات بهروزرسانی";
// "The update is mandatory and has started automatically".
inline constexpr const wchar_t* kMandatoryNotice = L"بهروزرسانی اجباری است و بهصورت خودکار آغاز شد";
// "Mandatory update".
inline constexpr const wchar_t* kMandatoryCaption = L"بهروزرسانی اجباری";
// "An error occurred while displaying the user interface".
inline constexpr const wchar_t* kWindowCreateError = L"وقوع خطا در نمایش رابط کاربری";
// "An error occurred in communicating with the server; make sure of your internet connection and
// open the program again".
inline constexpr const wchar_t* kServerError =
    L"در ارتباط با سرور خطا روی داده از اتصال خود به اینترنت اطمینان حاصل نموده و دوباره برنامه را باز کنید";
// "Server connection error".
inline constexpr const wchar_t* kServerErrorCaption = L"خطای ارتباط با سرور";
// "Error reading the version of the existing software".
inline constexpr const wchar_t* kVersionReadError = L"خطا در خواندن نسخه نرم افزار موجود";
// "Error".
inline constexpr const wchar_t* kErrorCaptionPersian = L"خطا";
// "Opening the compressed file ran into an error!".
inline constexpr const wchar_t* kExtractError = L"باز کردن فایل فشرده شده با خطا مواجه شد!";
// "Installing the new version did not happen; the program folder is in use.
// Please close the open programs and try again".
inline constexpr const wchar_t* kInstallFolderInUse =
    L"نصب نسخه جدید انجام نشد؛ پوشه برنامه در حال استفاده است. لطفا برنامه های باز را ببندید و دوباره تلاش کنید";
// "Installing the new version did not happen; the received package does not
// hold the announced version".
inline constexpr const wchar_t* kReleaseVersionMismatch =
    L"نصب نسخه جدید انجام نشد؛ بسته دریافت شده نسخه اعلام شده را ندارد";
// "The new version did not start; the previous version of the program was
// put back".
inline constexpr const wchar_t* kNewVersionDidNotStart =
    L"نسخه جدید اجرا نشد؛ نسخه قبلی برنامه بازگردانده شد";
// "The program could not be started; please contact support".
inline constexpr const wchar_t* kAppStartError = L"برنامه اجرا نشد؛ لطفا با پشتیبانی تماس بگیرید";
// Progress line: "%   download speed: ".
inline constexpr const wchar_t* kProgressSpeedLabel = L"%   سرعت دانلود: ";
// Progress line: " KB/s   remaining time: ".
inline constexpr const wchar_t* kProgressRemainingLabel = L" KB/s   زمان باقی مانده: ";
// Progress line: " seconds".
inline constexpr const wchar_t* kProgressSecondsUnit = L" ثانیه";

// The English caption of the two technical error boxes.
inline constexpr const wchar_t* kErrorCaptionEnglish = L"Error";

}  // namespace texts
