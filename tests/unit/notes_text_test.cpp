#include <gtest/gtest.h>

#include "app/notes_text.h"

namespace {

TEST(ComposeNotesText, ShowsBothVersionsAndTurnsEscapesIntoLineBreaks) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"a\\r\\nb", L"a\r\nb"},  // never CR CR LF: the pair goes first
        {L"a\\nb", L"a\r\nb"},    {L"a\\rb", L"a\rb"}, {L"\\u0628\\n", L"\\u0628\r\n"}, {L"", L""},
    };
    for (const auto& [notes, shown] : cases) {
        EXPECT_EQ(ComposeNotesText(L"1.2.3.4", L"2.0.0.0", notes),
                  std::wstring(L"نسخه کلاینت: 1.2.3.4\r\nنسخه سرور: 2.0.0.0\r\n") + shown)
            << testing::PrintToString(notes);
    }
}

}  // namespace
