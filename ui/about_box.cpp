#include "ui/about_box.h"

#include <cstdio>
#include <cstring>

#include "core/host_module.h"
#include "ui/browser.h"

namespace ui {
namespace {

constexpr int kMessageText = 512;

constexpr const char* kAboutEnglish =
    "Kelvane's RealAudio plugin for Winamp\r\n"
    "by Kelvane (Rem Kelvane)\r\n"
    "\r\n"
    "Any comments or feedbacks are welcome\r\n"
    "Mail me to : kelvane@in-realmedia.invalid\r\n"
    "\r\n"
    "Homepage : http://in-realmedia.invalid/\r\n"
    "Click Ok to visit homepage";

// Code page 949.
constexpr const char* kAboutKorean =
    "Kelvane's RealAudio plugin for Winamp\r\n"
    // 만든이 : Kelvane (렘 켈베인)
    "\xb8\xb8\xb5\xe7\xc0\xcc : Kelvane (\xb7\xbd \xc4\xcc\xba\xa3\xc0\xce)\r\n"
    "\r\n"
    // 격려 말씀이나 건의, 제안사항 모두 환영합니다
    "\xb0\xdd\xb7\xc1 \xb8\xbb\xbe\xb8\xc0\xcc\xb3\xaa \xb0\xc7\xc0\xc7, \xc1\xa6\xbe\xc8\xbb\xe7\xc7\xd7 "
    "\xb8\xf0\xb5\xce \xc8\xaf\xbf\xb5\xc7\xd5\xb4\xcf\xb4\xd9\r\n"
    // kelvane@in-realmedia.invalid 로 메일주세요
    "kelvane@in-realmedia.invalid \xb7\xce \xb8\xde\xc0\xcf\xc1\xd6\xbc\xbc\xbf\xe4\r\n"
    "\r\n"
    // 홈페이지 : http://in-realmedia.invalid/
    "\xc8\xa8\xc6\xe4\xc0\xcc\xc1\xf6 : http://in-realmedia.invalid/\r\n"
    // 확인을 누르시면 홈페이지를 방문합니다.
    "\xc8\xae\xc0\xce\xc0\xbb \xb4\xa9\xb8\xa3\xbd\xc3\xb8\xe9 \xc8\xa8\xc6\xe4\xc0\xcc\xc1\xf6\xb8\xa6 "
    "\xb9\xe6\xb9\xae\xc7\xd5\xb4\xcf\xb4\xd9.";

constexpr const char* kFormatEnglish = "%s\r\n\r\nProgram Version:%s\r\nReal Player Version:%s";
// %s\r\n\r\n프로그램 버전:%s\r\n리얼 플레이어 버전:%s
constexpr const char* kFormatKorean =
    "%s\r\n\r\n\xc7\xc1\xb7\xce\xb1\xd7\xb7\xa5 \xb9\xf6\xc0\xfc:%s\r\n"
    "\xb8\xae\xbe\xf3 \xc7\xc3\xb7\xb9\xc0\xcc\xbe\xee \xb9\xf6\xc0\xfc:%s";

}  // namespace

void FormatAboutMessage(bool korean, const char* playerVersion, char* message, int capacity) noexcept {
    if (korean)
        std::snprintf(message, capacity, kFormatKorean, kAboutKorean, kProgramVersion, playerVersion);
    else
        std::snprintf(message, capacity, kFormatEnglish, kAboutEnglish, kProgramVersion, playerVersion);
}

void Config(HWND parent) noexcept {
    MessageBoxA(parent, "No configuration.", "Configuration", MB_OK);
}

void About(HWND parent) noexcept {
    char version[kRegistryText];
    if (!ReadClassesRootDefault("Software\\RealNetworks\\RealPlayer\\CurrentVersion", version))
        std::strcpy(version, "N/A");
    char message[kMessageText];
    FormatAboutMessage(core::g_koreanLocale, version, message, sizeof message);
    if (MessageBoxA(parent, message, "About..!", MB_OKCANCEL) == IDOK) OpenInBrowser(kHomePage);
}

}  // namespace ui
