// The utility's choices that need no window: search orders, the minutes
// rules and the lamp-off time sent at Close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "suite_config.h"
#include "utility_logic.h"

namespace {

std::vector<std::pair<uint16_t, uint16_t>> Pairs(bool search, uint16_t address, uint16_t mode) {
    PortCandidate out[PARALLEL_SEARCH_PAIRS];
    const uint32_t n = ParallelCandidates(search, address, mode, out);
    std::vector<std::pair<uint16_t, uint16_t>> v;
    for (uint32_t i = 0; i < n; ++i) v.push_back({out[i].address, out[i].mode});
    return v;
}

TEST(ParallelCandidates, AutoSearchTriesEveryAddressWithEppThenSpp) {
    const std::vector<std::pair<uint16_t, uint16_t>> expected = {
        {0x378, 0}, {0x378, 1}, {0x278, 0}, {0x278, 1}, {0x3BC, 0}, {0x3BC, 1}};
    // The order does not depend on the selection.
    EXPECT_EQ(Pairs(true, 0x3BC, 0), expected);
    EXPECT_EQ(Pairs(true, 0xFFFF, 1), expected);
}

TEST(ParallelCandidates, VerifyTriesTheSelectionOnly) {
    EXPECT_EQ(Pairs(false, 0x3BC, 0), (std::vector<std::pair<uint16_t, uint16_t>>{{0x3BC, 0}}));
    EXPECT_EQ(Pairs(false, 0x2A0, 1), (std::vector<std::pair<uint16_t, uint16_t>>{{0x2A0, 1}}));
}

std::vector<uint32_t> Order(bool search, std::vector<uint16_t> list, int selected, uint16_t current) {
    uint32_t order[SCANPORT_LIST_CAPACITY];
    const uint32_t n = ScanPortCandidates(search, list.data(), uint32_t(list.size()), selected, current, order);
    return std::vector<uint32_t>(order, order + n);
}

TEST(ScanPortCandidates, SearchExchangesTheCurrentEntryWithTheFirst) {
    struct Case {
        std::vector<uint16_t> list;
        uint16_t current;
        std::vector<uint32_t> order;
    } cases[] = {
        {{0xA, 0xB, 0xC, 0xD}, 0xC, {2, 1, 0, 3}},      // A B C D with C: C B A D
        {{0xA, 0xB, 0xC, 0xD}, 0xA, {0, 1, 2, 3}},      // already first
        {{0xA, 0xB, 0xC, 0xD}, 0xD, {3, 1, 2, 0}},
        {{0xA, 0xB, 0xC, 0xD}, 0x999, {0, 1, 2, 3}},    // none equal: list order
        {{0xA, 0xC, 0xC}, 0xC, {1, 0, 2}},              // the first equal entry
        {{}, 0x378, {}},                                // empty list: nothing is tried
    };
    for (const Case &c : cases) EXPECT_EQ(Order(true, c.list, 0, c.current), c.order) << c.current;
}

TEST(ScanPortCandidates, VerifyTriesTheSelectedEntryOrNothing) {
    EXPECT_EQ(Order(false, {0x378, 0x2A0}, 1, 0x378), (std::vector<uint32_t>{1}));
    EXPECT_EQ(Order(false, {0x378, 0x2A0}, -1, 0x378), std::vector<uint32_t>{});  // CB_ERR: nothing selected
    EXPECT_EQ(Order(false, {}, 0, 0x378), std::vector<uint32_t>{});
    EXPECT_EQ(Order(false, {0x378}, 1, 0x378), std::vector<uint32_t>{});
}

TEST(ScanPortCandidates, NeverReadsPastTheCapacity) {
    std::vector<uint16_t> list(SCANPORT_LIST_CAPACITY + 5, 0x100);
    list[SCANPORT_LIST_CAPACITY + 2] = 0x2A0;  // beyond the list the page holds
    const std::vector<uint32_t> order = Order(true, list, 0, 0x2A0);
    ASSERT_EQ(order.size(), SCANPORT_LIST_CAPACITY);
    EXPECT_EQ(order[0], 0u);
}

TEST(OpeningAddress, ZeroReadsAsTheDefaultAndUndefinedStays) {
    EXPECT_EQ(OpeningAddress(0), 0x378);
    EXPECT_EQ(OpeningAddress(0xFFFF), 0xFFFF);
    EXPECT_EQ(OpeningAddress(0x278), 0x278);
}

TEST(ParallelAddressIndex, StandardAddressesOnly) {
    EXPECT_EQ(ParallelAddressIndex(0x378), 0);
    EXPECT_EQ(ParallelAddressIndex(0x278), 1);
    EXPECT_EQ(ParallelAddressIndex(0x3BC), 2);
    EXPECT_EQ(ParallelAddressIndex(0), -1);
    EXPECT_EQ(ParallelAddressIndex(0x2A0), -1);
}

TEST(ParseHexWord, DigitsOfEitherCaseAndTheArithmeticOfOthers) {
    EXPECT_EQ(ParseHexWord("378"), 0x378);
    EXPECT_EQ(ParseHexWord("2a0"), 0x2A0);
    EXPECT_EQ(ParseHexWord("2A0"), 0x2A0);
    EXPECT_EQ(ParseHexWord("12345"), 0x2345);  // low 16 bits
    // "0x378": 'x' counts 'x' - 'a' + 10 = 33, shifted into the high bits.
    EXPECT_EQ(ParseHexWord("0x378"), uint16_t((33u << 12) + 0x378));
    EXPECT_NE(ParseHexWord("0x378"), 0x378);
    EXPECT_EQ(ParseHexWord(""), 0);
}

TEST(Minutes, WholeMinutesOfTheLampOffTime) {
    EXPECT_EQ(MinutesFromSeconds(600), 10);
    EXPECT_EQ(MinutesFromSeconds(59), 0);
    EXPECT_EQ(MinutesFromSeconds(119), 1);
    EXPECT_EQ(MinutesFromSeconds(0), 0);
    EXPECT_EQ(MinutesFromSeconds(65536u * 60u + 120u), 2);  // cut to 16 bits
}

TEST(Minutes, TypedValuesOutsideOneToSixtyArePutBack) {
    struct Case {
        const char *text;
        MinutesEdit result;
        uint16_t accepted;
    } cases[] = {
        {"75", MINUTES_PUT_BACK, 0}, {"0", MINUTES_PUT_BACK, 0},   {"", MINUTES_PUT_BACK, 0},
        {"a", MINUTES_PUT_BACK, 0},  {"-5", MINUTES_PUT_BACK, 0},  {"61", MINUTES_PUT_BACK, 0},
        {"1x", MINUTES_PUT_BACK, 0}, {"99999999999", MINUTES_PUT_BACK, 0},
        {"10", MINUTES_UNCHANGED, 0}, {"60", MINUTES_ACCEPTED, 60}, {"1", MINUTES_ACCEPTED, 1},
        {" 7", MINUTES_ACCEPTED, 7},
    };
    for (const Case &c : cases) {
        uint16_t accepted = 0;
        EXPECT_EQ(CheckTypedMinutes(c.text, 10, &accepted), c.result) << c.text;
        if (c.result == MINUTES_ACCEPTED) {
            EXPECT_EQ(accepted, c.accepted) << c.text;
        }
    }
}

TEST(Minutes, ArrowsStepAndClamp) {
    EXPECT_EQ(StepMinutes(10, 0), 11);
    EXPECT_EQ(StepMinutes(10, 1), 9);
    EXPECT_EQ(StepMinutes(60, 0), 60);
    EXPECT_EQ(StepMinutes(1, 1), 1);
    EXPECT_EQ(StepMinutes(10, 5), 10);   // other codes do not step
    EXPECT_EQ(StepMinutes(90, 5), 60);   // an hour and a half read from the scanner: clamped
    EXPECT_EQ(StepMinutes(90, 1), 60);
    EXPECT_EQ(StepMinutes(0, 0), 1);
}

TEST(LampSecondsAtClose, ChoiceAndFieldMakeTheTimeSent) {
    struct Case {
        bool read;
        uint32_t field;
        uint16_t minutes;
        uint16_t choice;
        uint32_t seconds;
    } cases[] = {
        {true, 10, 10, LAMP_CHOICE_OFF_AFTER, 600},
        {true, 12, 10, LAMP_CHOICE_OFF_AFTER, 720},  // the field counts
        {true, 75, 10, LAMP_CHOICE_OFF_AFTER, 600},  // out of range: lampMinutes
        {true, 0, 10, LAMP_CHOICE_OFF_AFTER, 600},
        {false, 0, 7, LAMP_CHOICE_OFF_AFTER, 420},   // no page: lampMinutes
        {true, 10, 10, LAMP_CHOICE_KEEP_ON, 0},
        {true, 15, 10, LAMP_CHOICE_TURN_OFF, 900},   // disabled field still counts
    };
    for (const Case &c : cases)
        EXPECT_EQ(LampSecondsAtClose(c.read, c.field, c.minutes, c.choice), c.seconds) << c.field << " " << c.choice;
}

TEST(JoinLibraryPath, RefusesAPathThatDoesNotFit) {
    char out[260];
    ASSERT_TRUE(JoinLibraryPath("C:\\Suite\\", "BTNDRAW.DLL", out, sizeof(out)));
    EXPECT_STREQ(out, "C:\\Suite\\BTNDRAW.DLL");
    ASSERT_TRUE(JoinLibraryPath("", "BTNDRAW.DLL", out, sizeof(out)));
    EXPECT_STREQ(out, "BTNDRAW.DLL");
    const std::string fits(260 - 1 - 11, 'd'), over(260 - 11, 'd');
    EXPECT_TRUE(JoinLibraryPath(fits.c_str(), "BTNDRAW.DLL", out, sizeof(out)));
    EXPECT_EQ(std::string(out).size(), 259u);
    EXPECT_FALSE(JoinLibraryPath(over.c_str(), "BTNDRAW.DLL", out, sizeof(out)));
    EXPECT_STREQ(out, "");
}

}  // namespace
