// System shortcuts: takeover and restore bookkeeping, launch repair, the exit hooks.
#include "Support/SimBridge.h"
#include "SystemBridge/SymbolicHotKeys.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel {
namespace {

using json = nlohmann::json;

class HotKeysTest : public test::SimBridgeTest {
protected:
    std::optional<json> saved() const { return defaults->object(SymbolicHotKeys::savedStateKey); }
    std::vector<std::string> setCalls() const
    {
        auto calls = desktop->calls();
        std::erase_if(calls, [](const std::string& call) { return !call.starts_with("CGSSetSymbolicHotKeyEnabled"); });
        return calls;
    }
    /// Whether each of `ids` is on, in order.
    std::vector<bool> enabled(std::initializer_list<int> ids) const
    {
        std::vector<bool> result;
        for (int id : ids)
            result.push_back(desktop->hotKeyEnabled(id));
        return result;
    }
    void setEnabled(std::initializer_list<int> ids, bool on)
    {
        for (int id : ids)
            desktop->setHotKeyEnabled(id, on);
    }
};
using Bits = std::vector<bool>;
using Calls = std::vector<std::string>;

TEST(SymbolicHotKeyIds, ParseSignedDecimalWithOptionalSignAndOnlyKnownCases)
{
    EXPECT_EQ(SymbolicHotKey::fromRawValue(61), SymbolicHotKey(SymbolicHotKey::nextInputSource));
    for (auto [text, id] : {std::pair{"1", 1}, {"+60", 60}, {"-5", -5}, {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}})
        EXPECT_EQ(SymbolicHotKeys::parseHotKeyID(text), id) << text;
    for (auto bad : {"", "+", "-", "1x", " 1", "+-1", "++1", "--1", "2147483648", "-2147483649", "0x1", "1.0"})
        EXPECT_EQ(SymbolicHotKeys::parseHotKeyID(bad), std::nullopt) << bad;
}

TEST_F(HotKeysTest, TakeOverRecordsTheFirstPriorStatesAndRestoreBringsThemBack)
{
    desktop->setHotKeyEnabled(6, false);
    EXPECT_TRUE(SymbolicHotKeys::takeOver(SymbolicHotKey::commandTab));
    EXPECT_EQ(enabled({1, 2, 6, 60}), (Bits{false, false, false, true}));
    SymbolicHotKeys::takeOver(SymbolicHotKey::commandTab); // all off now: the first record wins
    EXPECT_EQ(saved(), (json{{"1", true}, {"2", true}, {"6", false}}));

    SymbolicHotKeys::restore(SymbolicHotKey::commandTab);
    EXPECT_EQ(enabled({1, 2, 6}), (Bits{true, true, false})) << "the user's own off state comes back";
    EXPECT_EQ(saved(), std::nullopt) << "an empty record removes the key";

    // A partial restore keeps the other entries.
    SymbolicHotKeys::takeOver(SymbolicHotKey::commandTab);
    SymbolicHotKeys::takeOver(SymbolicHotKey::inputSources);
    SymbolicHotKeys::restore(SymbolicHotKey::commandTab);
    EXPECT_EQ(saved(), (json{{"60", true}, {"61", true}}));
}

TEST_F(HotKeysTest, RestoreOfAKeyNeverTakenOverEnablesIt)
{
    desktop->setHotKeyEnabled(60, false);
    SymbolicHotKeys::restore(SymbolicHotKey::inputSources);
    EXPECT_TRUE(desktop->hotKeyEnabled(60));
    EXPECT_EQ(saved(), std::nullopt);
}

TEST_F(HotKeysTest, UnknownIdsAreIgnoredAndKeptSignedSpellingsAreRestored)
{
    defaults->setObject(SymbolicHotKeys::savedStateKey, json{{"7", false}, {"1", false}, {"+2", false}, {"x", true}});
    desktop->setHotKeyEnabled(2, true);
    // In the order of the stored keys: "+2" sorts before "1".
    ASSERT_EQ(SymbolicHotKeys::takenOver(),
              (std::vector<SymbolicHotKey>{SymbolicHotKey::previousApplication, SymbolicHotKey::nextApplication}));
    SymbolicHotKeys::restore();
    EXPECT_EQ(setCalls(), (Calls{"CGSSetSymbolicHotKeyEnabled 2 off", "CGSSetSymbolicHotKeyEnabled 1 off"}));
    EXPECT_EQ(saved(), (json{{"7", false}, {"x", true}}));
}

TEST_F(HotKeysTest, ACorruptSavedValueReadsAsEmptyAndIsOverwritten)
{
    for (const json& corrupt : {json("garbage"), json::array({1, 2}), json{{"1", "yes"}}, json{{"1", true}, {"2", 0}}}) {
        defaults->setObject(SymbolicHotKeys::savedStateKey, corrupt);
        desktop->clearCalls();
        EXPECT_TRUE(SymbolicHotKeys::takenOver().empty()) << corrupt.dump();
        SymbolicHotKeys::restore();
        EXPECT_TRUE(setCalls().empty()) << corrupt.dump();
        SymbolicHotKeys::takeOver(std::array{SymbolicHotKey(SymbolicHotKey::nextWindow)});
        EXPECT_EQ(saved(), (json{{"6", true}})) << corrupt.dump();
        SymbolicHotKeys::restore();
    }
}

TEST_F(HotKeysTest, MissingEntryPointsStillRecordAndRepairButReportFailure)
{
    // Without the read entry point, launch repair restores only what was recorded.
    desktop->removeSlot("CGSIsSymbolicHotKeyEnabled");
    desktop->setHotKeyEnabled(1, false);
    EXPECT_FALSE(SymbolicHotKeyGuard::reassertAtLaunch());
    EXPECT_FALSE(desktop->hotKeyEnabled(1));
    defaults->setObject(SymbolicHotKeys::savedStateKey, json{{"1", true}});
    EXPECT_TRUE(SymbolicHotKeyGuard::reassertAtLaunch());
    EXPECT_TRUE(desktop->hotKeyEnabled(1));

    desktop->removeSlot("CGSSetSymbolicHotKeyEnabled");
    desktop->setHotKeyEnabled(6, false);
    reinstall();
    desktop->clearCalls();
    EXPECT_FALSE(SymbolicHotKeys::isAvailable());
    EXPECT_EQ(SymbolicHotKeys::isEnabled(SymbolicHotKey::nextWindow), std::nullopt);
    EXPECT_FALSE(SymbolicHotKeys::takeOver(SymbolicHotKey::commandTab));
    EXPECT_EQ(saved(), (json{{"1", true}, {"2", true}, {"6", true}})) << "unreadable states are recorded as on";
    SymbolicHotKeys::restore();
    EXPECT_EQ(saved(), std::nullopt);
    EXPECT_TRUE(desktop->calls().empty());
}

TEST_F(HotKeysTest, OneFailedSwitchFailsTheTakeOverButTheRestStillRun)
{
    desktop->failNext("CGSSetSymbolicHotKeyEnabled", {0, 5});
    EXPECT_FALSE(SymbolicHotKeys::takeOver(SymbolicHotKey::commandTab));
    EXPECT_EQ(setCalls().size(), 3u);
    EXPECT_FALSE(desktop->hotKeyEnabled(6));
}

TEST_F(HotKeysTest, LaunchRepairRestoresWhatAPreviousRunLeftBehind)
{
    defaults->setObject(SymbolicHotKeys::savedStateKey, json{{"1", true}, {"2", true}, {"6", true}});
    setEnabled({1, 2, 6}, false);
    EXPECT_TRUE(SymbolicHotKeyGuard::reassertAtLaunch());
    EXPECT_EQ(enabled({1, 2, 6}), (Bits{true, true, true}));
    EXPECT_EQ(saved(), std::nullopt);

    // ⌘Tab is re-enabled whoever disabled it; with nothing to repair nothing is done.
    desktop->clearCalls();
    EXPECT_FALSE(SymbolicHotKeyGuard::reassertAtLaunch());
    EXPECT_TRUE(setCalls().empty());
    desktop->setHotKeyEnabled(6, false);
    EXPECT_TRUE(SymbolicHotKeyGuard::reassertAtLaunch());
    EXPECT_EQ(setCalls(), (Calls{"CGSSetSymbolicHotKeyEnabled 1 on", "CGSSetSymbolicHotKeyEnabled 2 on",
                                 "CGSSetSymbolicHotKeyEnabled 6 on"}));
    // A user-disabled shortcut recorded as such is restored off, then the
    // check re-enables the three ⌘Tab shortcuts regardless.
    defaults->setObject(SymbolicHotKeys::savedStateKey, json{{"2", false}});
    EXPECT_TRUE(SymbolicHotKeyGuard::reassertAtLaunch());
    EXPECT_TRUE(desktop->hotKeyEnabled(2));
}

/// The wait status of a forked child that runs `body` and exits with what it returns.
int childStatus(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0)
        std::exit(body());
    int status = -1;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return status;
}

// The child takes ⌘Tab over (with ⌘` already off by the user's choice), then
// exits or raises the signal. The shortcut table is shared with the parent, so
// the parent sees what the child's exit hooks restored.
TEST_F(HotKeysTest, AnOrderlyExitOrASignalRestoresTheShortcutsAndTheSignalStillEndsTheProcess)
{
    for (int signal : {0, SIGTERM, SIGSEGV}) {
        SCOPED_TRACE(signal);
        setEnabled({1, 2}, true);
        desktop->setHotKeyEnabled(6, false);
        const int status = childStatus([&] {
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            SymbolicHotKeyGuard::install();
            if (!SymbolicHotKeys::takeOver(SymbolicHotKey::commandTab) || desktop->hotKeyEnabled(1))
                return 3;
            if (signal != 0)
                raise(signal);
            return 0;
        });
        if (signal == 0)
            EXPECT_EQ(status, 0);
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "wait status " << status;
        EXPECT_EQ(enabled({1, 2, 6}), (Bits{true, true, false})) << "restored to the user's prior state";
    }
}

void onTestSignal(int) {}

TEST(HotKeyGuard, LeavesAQuitSignalTheProgramHandlesOrIgnores)
{
    const int status = childStatus([] {
        signal(SIGHUP, SIG_IGN);
        signal(SIGINT, onTestSignal);
        SymbolicHotKeyGuard::install();
        auto handler = [](int sig) {
            struct sigaction current {};
            sigaction(sig, nullptr, &current);
            return current.sa_handler;
        };
        const bool kept = handler(SIGHUP) == SIG_IGN && handler(SIGINT) == onTestSignal;
        const bool guarded = handler(SIGTERM) != SIG_DFL && handler(SIGQUIT) != SIG_DFL;
        return kept && guarded ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "the guard must keep the program's SIGINT and an ignored SIGHUP, and take SIGTERM and SIGQUIT";
}

// Restoring from the table the last save left: the exit and signal case above.
TEST_F(HotKeysTest, TheSignalTableFollowsEverySave)
{
    SymbolicHotKeys::takeOver(SymbolicHotKey::inputSources);
    SymbolicHotKeys::restore(SymbolicHotKey::inputSources);
    desktop->setHotKeyEnabled(61, false);
    SymbolicHotKeys::restoreFromSignalHandler();
    EXPECT_FALSE(desktop->hotKeyEnabled(61)) << "nothing is recorded any more, so nothing is touched";
}

} // namespace
} // namespace vantrel
