// The monitor's platform-free rules: poll transitions over whole tick
// sequences, options, token substitution, placeholder expansion and the
// path joins, with buffers at their limits.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "monitor_logic.h"

namespace {

// Runs the state machine over a sequence of '1' (down) and '0' (up) ticks
// and returns the ticks that launched, as '^' under each.
std::string Launches(const char *ticks) {
    int32_t state = BUTTON_STATE_INITIAL;
    std::string out;
    for (const char *t = ticks; *t; ++t) {
        ButtonStep step = NextButtonState(state, *t == '1');
        state = step.state;
        out += step.launch ? '^' : '.';
    }
    return out;
}

TEST(PollTransitions, PressIsAnUpToDownChangeSeenBetweenTicks) {
    struct {
        const char *ticks, *launches;
    } cases[] = {
        {"0100", ".^.."},        // one short press
        {"01111111", ".^......"},  // held down: once
        {"1110", "...."},        // down at start is no press
        {"111001", ".....^"},    // ...until it was seen up
        {"0101011", ".^.^.^."},  // each release re-arms
        {"0000", "...."},
    };
    for (const auto &c : cases) EXPECT_EQ(Launches(c.ticks), c.launches) << c.ticks;
    EXPECT_EQ(NextButtonState(BUTTON_STATE_INITIAL, false).state, BUTTON_STATE_RELEASED);
    EXPECT_EQ(NextButtonState(BUTTON_STATE_INITIAL, true).state, BUTTON_STATE_PRESSED);
}

TEST(Options, WholeTailComparedCaseSensitively) {
    struct {
        const char *tail;
        MonitorOption option;
    } cases[] = {
        {"/S", OPTION_OPEN_SETUP}, {"/s", OPTION_OPEN_SETUP}, {"/D", OPTION_LAUNCH},
        {"/d", OPTION_LAUNCH},     {"/Q", OPTION_QUIT},       {"/q", OPTION_QUIT},
        {"", OPTION_RUN_MONITOR},  {"/S ", OPTION_RUN_MONITOR}, {"/Sx", OPTION_RUN_MONITOR},
        {"-s", OPTION_RUN_MONITOR}, {"/Q /S", OPTION_RUN_MONITOR}, {" /Q", OPTION_RUN_MONITOR},
        {nullptr, OPTION_RUN_MONITOR},
    };
    for (const auto &c : cases) EXPECT_EQ(ParseMonitorOption(c.tail), c.option) << (c.tail ? c.tail : "null");
}

std::string Substitute(const char *text, std::initializer_list<const char *> args, size_t size = 1024) {
    std::string buffer(size, '\x7f');
    strcpy(buffer.data(), text);
    std::vector<const char *> list(args);
    SubstituteArguments(buffer.data(), size, uint32_t(list.size()), list.data());
    EXPECT_EQ(buffer.find('\0'), strlen(buffer.c_str()));
    EXPECT_LT(strlen(buffer.c_str()), size);
    return buffer.c_str();
}

TEST(Substitution, EveryTokenReplacedAndArgumentsNotSearchedAgain) {
    EXPECT_EQ(Substitute("Program was unable to launch '%1.'", {"Scan It"}),
              "Program was unable to launch 'Scan It.'");
    EXPECT_EQ(Substitute("%1 and %1, %2", {"a", "b"}), "a and a, b");
    EXPECT_EQ(Substitute("no token", {"a"}), "no token");
    // An argument holding its own token ends: it is not replaced again.
    EXPECT_EQ(Substitute("<%1>", {"x%1y"}), "<x%1y>");
    EXPECT_EQ(Substitute("%1%1", {"%1%1"}), "%1%1%1%1");
    // A later token inside an earlier argument is still an occurrence of it.
    EXPECT_EQ(Substitute("%1", {"%2", "B"}), "B");
    EXPECT_EQ(Substitute("%1", {""}), "");
}

TEST(Substitution, ResultCutToTheBuffer) {
    std::string big(3000, 'k');
    std::string out = Substitute("[%1] tail", {big.c_str()});
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_EQ(out.substr(0, 2), "[k");
    // A small buffer keeps the text before the token whole.
    EXPECT_EQ(Substitute("ab%1cd", {"XYZ"}, 6), "abXYZ");
    EXPECT_EQ(Substitute("ab%1cd", {"X"}, 6), "abXcd");
    EXPECT_EQ(Substitute("ab%1cd", {"XY"}, 6), "abXYc");
}

TEST(Expansion, PlaceholdersReplacedOnlyWhenTheWholeValueFits) {
    const char *programs = "C:\\Start Menu\\Programs", *startup = "C:\\Start Menu\\Programs\\Startup";
    struct {
        const char *value;
        ExpandResult result;
        const char *out;
    } cases[] = {
        {"%1\\Tools\\Scan.lnk", EXPAND_DONE, "C:\\Start Menu\\Programs\\Tools\\Scan.lnk"},
        {"%1\\%1.lnk", EXPAND_DONE, "C:\\Start Menu\\Programs\\C:\\Start Menu\\Programs.lnk"},
        {"%2\\Go.lnk", EXPAND_DONE, "C:\\Start Menu\\Programs\\Startup\\Go.lnk"},
        {"%1|%2", EXPAND_DONE, "C:\\Start Menu\\Programs|C:\\Start Menu\\Programs\\Startup"},
        {"C:\\x\\Scan.lnk", EXPAND_NOTHING, ""},
        {"%3 and 50%", EXPAND_NOTHING, ""},
    };
    for (const auto &c : cases) {
        char out[260] = "";
        EXPECT_EQ(ExpandActionValue(c.value, programs, startup, out, sizeof(out)), c.result) << c.value;
        if (c.result == EXPAND_DONE) {
            EXPECT_STREQ(out, c.out) << c.value;
        }
    }
    // A folder that is itself named with a placeholder does not loop.
    char out[260];
    EXPECT_EQ(ExpandActionValue("%1\\a", "C:\\%1", startup, out, sizeof(out)), EXPAND_DONE);
    EXPECT_STREQ(out, "C:\\%1\\a");
}

TEST(Expansion, TooLongOrUnknownFolderLeavesTheValue) {
    std::string folder(200, 'f');
    char out[260] = "untouched";
    EXPECT_EQ(ExpandActionValue("%1\\%1", folder.c_str(), "s", out, sizeof(out)), EXPAND_TOO_LONG);
    EXPECT_STREQ(out, "untouched");
    // Exactly 259 characters fit, 260 do not.
    std::string f259(256, 'p');
    EXPECT_EQ(ExpandActionValue("%1abcd", f259.c_str(), "s", out, sizeof(out)), EXPAND_TOO_LONG);
    EXPECT_EQ(ExpandActionValue("%1ab", f259.c_str(), "s", out, sizeof(out)), EXPAND_DONE);
    EXPECT_EQ(strlen(out), 258u);
    EXPECT_EQ(ExpandActionValue("%1abc", f259.c_str(), "s", out, sizeof(out)), EXPAND_DONE);
    EXPECT_EQ(strlen(out), 259u);
    EXPECT_EQ(ExpandActionValue("%2\\x", "p", "", out, sizeof(out)), EXPAND_NO_FOLDER);
    EXPECT_EQ(ExpandActionValue("%1\\x", nullptr, "s", out, sizeof(out)), EXPAND_NO_FOLDER);
    // An unknown folder that is not asked for does not matter.
    EXPECT_EQ(ExpandActionValue("%1\\x", "p", "", out, sizeof(out)), EXPAND_DONE);
}

TEST(Paths, SplitAndJoinStayInTheirBuffers) {
    char folder[260], name[260];
    SplitActionValue("C:\\P\\Group\\Scan.lnk", folder, sizeof(folder), name, sizeof(name));
    EXPECT_STREQ(folder, "C:\\P\\Group");
    EXPECT_STREQ(name, "Scan.lnk");
    SplitActionValue("NoBackslash.lnk", folder, sizeof(folder), name, sizeof(name));
    EXPECT_STREQ(folder, "");
    EXPECT_STREQ(name, "NoBackslash.lnk");
    SplitActionValue("C:\\G\\", folder, sizeof(folder), name, sizeof(name));
    EXPECT_STREQ(folder, "C:\\G");
    EXPECT_STREQ(name, "");
    char small[4];
    SplitActionValue("abcdef\\ghijk", small, sizeof(small), name, 3);
    EXPECT_STREQ(small, "abc");
    EXPECT_STREQ(name, "gh");

    char out[260];
    EXPECT_TRUE(JoinPath("C:\\G", "Scan", ".lnk", out, sizeof(out)));
    EXPECT_STREQ(out, "C:\\G\\Scan.lnk");
    std::string g(250, 'g');
    EXPECT_TRUE(JoinPath(g.c_str(), "abcd", nullptr, out, sizeof(out)));  // 255
    EXPECT_TRUE(JoinPath(g.c_str(), "ab", ".lnk", out, sizeof(out)));     // 257
    EXPECT_TRUE(JoinPath(g.c_str(), "abcd", ".lnk", out, sizeof(out)));   // 259
    EXPECT_EQ(strlen(out), 259u);
    EXPECT_FALSE(JoinPath(g.c_str(), "abcde", ".lnk", out, sizeof(out)));  // 260
    EXPECT_STREQ(out, "");
}

TEST(Names, OnlyNamesThatReadBackAsTheirKeyAreStorable) {
    for (const char *good : {"Scan It", "a", "  padded  ", "x[y]", "50% off"}) EXPECT_TRUE(IsStorableName(good)) << good;
    for (const char *bad : {"", "   ", "a=b", "=", "[Action]", " [x", ";note", static_cast<const char *>(nullptr)})
        EXPECT_FALSE(IsStorableName(bad)) << (bad ? bad : "null");
}

}  // namespace
