// Reply reading without a port: captured replies of the six supported cards, and the rules on
// where a reply ends.
#include "app/card/CardReply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using CardReply::Verdict;

namespace {

// What one card answers to the measurement, echo on, as it arrives on the line.
struct CardCase {
    const char* name;
    std::string ati4, ati6, ati5, lnk, lvl;
    std::string model, number, firmware;
    int16_t channel;
    std::vector<int16_t> levels;
};
std::ostream& operator<<(std::ostream& os, const CardCase& c) { return os << c.name; }

std::string Reply(const std::string& command, const std::string& lines)
{
    return command + "\r\r\n" + lines + "\r\n\r\nOK\r\n";
}

class Cards : public ::testing::TestWithParam<CardCase> {};

} // namespace

TEST_P(Cards, MeasurementRepliesReadBack)
{
    const CardCase& c = GetParam();
    auto answer = [](const std::string& raw, size_t echo) {
        EXPECT_EQ(CardReply::Classify(raw), Verdict::kOK) << raw;
        return CardReply::SkipEcho(CardReply::Body(raw), echo);
    };
    EXPECT_EQ(CardReply::Printable(answer(c.ati4, 4)), c.model);
    EXPECT_EQ(CardReply::Printable(answer(c.ati6, 4)), c.number);
    EXPECT_EQ(CardReply::Printable(answer(c.ati5, 4)), c.firmware);
    int16_t channel = -1;
    CardReply::ReadChannel(answer(c.lnk, 7), &channel);
    EXPECT_EQ(channel, c.channel);
    int16_t levels[CardReply::kLevelCount];
    EXPECT_TRUE(CardReply::ReadLevels(answer(c.lvl, 7), levels));
    EXPECT_EQ(std::vector<int16_t>(levels, levels + CardReply::kLevelCount), c.levels);
}

INSTANTIATE_TEST_SUITE_P(
    Supported, Cards,
    ::testing::Values(
        CardCase{"KirodenkiKTR21J", Reply("ATI4", "KTR21-J"), Reply("ATI6", "07012345678"), Reply("ATI5", "Ver 1.02"),
                 Reply("AT@@LNK", "2"), Reply("AT@@LVL", "13\r\n3333444455555"), "KTR21-J", "07012345678", "Ver 1.02", 2,
                 {3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 5}},
        CardCase{"KirodenkiKTR21CJ", Reply("ATI4", "KTR21C-J"), Reply("ATI6", "070-1111-2222"), Reply("ATI5", "2.10"),
                 Reply("AT@@LNK", "0"), Reply("AT@@LVL", "13\r\n0000000000000"), "KTR21C-J", "070-1111-2222", "2.10", 0,
                 std::vector<int16_t>(13, 0)},
        CardCase{"KirodenkiKTR22J", Reply("ATI4", "Kirodenki\r\nKTR22-J"), Reply("ATI6", "07033334444"),
                 Reply("ATI5", "V3.0"), Reply("AT@@LNK", "4"), Reply("AT@@LVL", "8\r\n54321012"), "KirodenkiKTR22-J",
                 "07033334444", "V3.0", 4, {5, 4, 3, 2, 1, 0, 1, 2, 0, 0, 0, 0, 0}},
        CardCase{"KirodenkiKTR22CJ", Reply("ATI4", "KTR22C-J"), Reply("ATI6", "07055556666"), Reply("ATI5", "3.01b"),
                 Reply("AT@@LNK", "1"), Reply("AT@@LVL", "13\r\n1234512345123"), "KTR22C-J", "07055556666", "3.01b", 1,
                 {1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 2, 3}},
        CardCase{"SuntacSlipper", Reply("ATI4", "SUNTAC Slipper"), Reply("ATI6", "07077778888"), Reply("ATI5", "1.0"),
                 Reply("AT@@LNK", "3"), Reply("AT@@LVL", "13\r\n5555555555555"), "SUNTAC Slipper", "07077778888", "1.0", 3,
                 std::vector<int16_t>(13, 5)},
        CardCase{"TksKSR23CJ", Reply("ATI4", "TOKYO-PHS KSR23C-J"), Reply("ATI6", "07099990000"), Reply("ATI5", "OK-1.5"),
                 Reply("AT@@LNK", "2"), Reply("AT@@LVL", "13\r\n9876543210123"), "TOKYO-PHS KSR23C-J", "07099990000",
                 "OK-1.5", 2, {0, 0, 0, 0, 5, 4, 3, 2, 1, 0, 1, 2, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CardReplyEnd, FinalResultLineOnly)
{
    struct {
        const char* name;
        std::string received;
        Verdict verdict;
        std::string body; // for OK and ERROR
    } cases[] = {
        {"echo text ok", "ATI4\r\r\nTEXT\r\n\r\nOK\r\n", Verdict::kOK, "ATI4\r\r\nTEXT\r\n"},
        {"bare ok line", "\r\nOK\r\n", Verdict::kOK, ""},
        {"ok at the very start", "OK\r\n", Verdict::kOK, ""},
        {"ok after a lone line feed", "X\nOK\r\n", Verdict::kOK, "X"},
        {"ok not yet closed", "\r\nOK", Verdict::kMore, ""},
        {"ok half closed", "\r\nOK\r", Verdict::kMore, ""},
        {"ok inside a word", "\r\nTOKYO\r\n", Verdict::kMore, ""},
        {"ok ending a word", "\r\nBOOK\r\n", Verdict::kMore, ""},
        {"ok with a blank before", "\r\n OK\r\n", Verdict::kMore, ""},
        {"error line", "ATI6\r\r\nERROR\r\n", Verdict::kError, "ATI6\r"},
        {"error inside the text", "\r\nNO ERRORS\r\n", Verdict::kMore, ""},
        {"error then more", "\r\nERROR\r\nX", Verdict::kMore, ""},
        {"nothing", "", Verdict::kMore, ""},
        {"full without a final line", std::string(CardReply::kMaxReply, 'n'), Verdict::kFull, ""},
        {"full but closed by ok", std::string(CardReply::kMaxReply - 6, 'n') + "\r\nOK\r\n", Verdict::kOK,
         std::string(CardReply::kMaxReply - 6, 'n')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CardReply::Classify(c.received), c.verdict);
        if (c.verdict == Verdict::kOK || c.verdict == Verdict::kError) {
            EXPECT_EQ(std::string(CardReply::Body(c.received)), c.body);
        }
    }
}
