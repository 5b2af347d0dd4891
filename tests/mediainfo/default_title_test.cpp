// The playlist's default title, the name without its folders, walked by
// character in the name's code page (pure: also builds natively).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/ansi_text.h"
#include "mediainfo/media_header.h"

namespace {

// Shift-JIS, code page 932: a second byte may be '\' (0x5C).
bool Cp932Lead(unsigned char b) noexcept { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
// Korean, code page 949: no second byte is '\', '.' or '/'.
bool Cp949Lead(unsigned char b) noexcept { return b >= 0x81 && b <= 0xFE; }

constexpr char kGuard = '\x7F';

// The last bytes of a name or title, in hexadecimal.
std::string Tail(const std::string& text) {
    std::string out;
    char two[4];
    for (size_t i = text.size() > 8 ? text.size() - 8 : 0; i < text.size(); ++i) {
        std::snprintf(two, sizeof two, " %02x", static_cast<unsigned char>(text[i]));
        out += two;
    }
    return out;
}

std::string Title(const std::string& name, core::LeadByteRule rule) {
    std::vector<char> title(mediainfo::kTitleCapacity + 16, kGuard);
    mediainfo::CopyDefaultTitle(name.c_str(), title.data(), rule);
    for (size_t i = mediainfo::kTitleCapacity; i < title.size(); ++i)
        EXPECT_EQ(title[i], kGuard) << "the title ran past the host's buffer";
    return title.data();
}

TEST(DefaultTitle, NameAfterTheLastBackslashCharacter) {
    // 表 is 0x95 0x5C and ソ 0x83 0x5C in Shift-JIS, ｱ (0xB1) one byte there;
    // 노래 is 0xB3 0xEB 0xB7 0xA1, 한 0xC7 0xD1 and 갂 0x81 0x41 in code page 949.
    const std::string cut(mediainfo::kTitleCapacity - 2, 'n');
    struct Case {
        std::string name;
        core::LeadByteRule rule;
        std::string title;
    } cases[] = {
        {"C:\\music\\\x95\x5C.rm", Cp932Lead, "\x95\x5C.rm"},
        {"C:\\music\\\x95\x5C.rm", core::NoLeadBytes, ".rm"},
        {"C:\\\x95\x5C\\song.rm", Cp932Lead, "song.rm"},
        {"\x83\x5C\x95\x5C.ra", Cp932Lead, "\x83\x5C\x95\x5C.ra"},
        {"C:\\\xB1\\\xB1.rm", Cp932Lead, "\xB1.rm"},
        {"C:\\music\\song\x95", Cp932Lead, "song\x95"},  // a lead byte at the end stands alone
        {"C:\\music\\", Cp932Lead, ""},
        {"song.rm", Cp932Lead, "song.rm"},
        {"C:\\music\\song.rm", core::NoLeadBytes, "song.rm"},
        {"C:\\\xC7\xD1\\\xB3\xEB\xB7\xA1.rm", Cp949Lead, "\xB3\xEB\xB7\xA1.rm"},
        {"C:\\\xC7\xD1\\\xB3\xEB\xB7\xA1.rm", core::NoLeadBytes, "\xB3\xEB\xB7\xA1.rm"},
        {"C:\\\x81\x41\\\x81\x41.rm", Cp949Lead, "\x81\x41.rm"},  // 갂: a letter as second byte
        // Cut to the host's buffer at a character's start, not inside one.
        {cut + "\x88\x9F.rm", Cp932Lead, cut},
        {cut + "\x88\x9F.rm", core::NoLeadBytes, cut + "\x88"},
        {cut + "\xB3\xEB.rm", Cp949Lead, cut},
        {cut + "\xB1\xB1.rm", Cp932Lead, cut + "\xB1"},
    };
    for (const Case& c : cases) {
        const std::string title = Title(c.name, c.rule);
        EXPECT_TRUE(title == c.title) << "name ending " << Tail(c.name) << ": " << title.size()
                                      << " bytes ending " << Tail(title) << ", expected " << c.title.size()
                                      << " ending " << Tail(c.title);
    }
}

}  // namespace
