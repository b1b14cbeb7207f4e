// The panel link against a private session bus with a stub panel and
// watchdog, the behaviour without a bus, and the watchdog's detached launch.
#include "src/fcitx/panel_link.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_dir.h"

namespace n_fcitx {
namespace {

using namespace std::chrono_literals;
using testsupport::t_testDir;

// A program that owns bus names on its own connection and records the method
// calls sent to them, answering each unless it plays a hung program.
class t_stubOwner {
public:
    t_stubOwner(std::vector<std::string> names, bool hang) : m_hang(hang) {
        DBusError err;
        dbus_error_init(&err);
        m_conn = dbus_bus_get_private(DBUS_BUS_SESSION, &err);
        if (!m_conn) return;
        dbus_connection_set_exit_on_disconnect(m_conn, FALSE);
        for (const std::string& n : names)
            dbus_bus_request_name(m_conn, n.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr);
        dbus_connection_add_filter(m_conn, Filter, this, nullptr);
        m_thread = std::thread([this] {
            while (!m_stop) dbus_connection_read_write_dispatch(m_conn, 20);
        });
    }
    ~t_stubOwner() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_conn) {
            dbus_connection_close(m_conn);
            dbus_connection_unref(m_conn);
        }
    }
    // The calls seen so far, "<member>" or "<member>/noreply"; waits up to 2 s
    // for at least `n` of them.
    std::vector<std::string> Calls(size_t n) {
        for (int i = 0; i < 100; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_calls.size() >= n) break;
            }
            std::this_thread::sleep_for(20ms);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    static DBusHandlerResult Filter(DBusConnection* c, DBusMessage* m, void* self) {
        auto* stub = static_cast<t_stubOwner*>(self);
        if (dbus_message_get_type(m) != DBUS_MESSAGE_TYPE_METHOD_CALL)
            return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
        const bool noReply = dbus_message_get_no_reply(m);
        {
            std::lock_guard<std::mutex> lock(stub->m_mutex);
            stub->m_calls.push_back(std::string(dbus_message_get_member(m)) +
                                    (noReply ? "/noreply" : ""));
        }
        if (!stub->m_hang && !noReply) {
            DBusMessage* r = dbus_message_new_method_return(m);
            dbus_connection_send(c, r, nullptr);
            dbus_message_unref(r);
        }
        return DBUS_HANDLER_RESULT_HANDLED;
    }

    DBusConnection* m_conn = nullptr;
    bool m_hang;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

// One private session bus for the suite; the link's shared connection stays
// on it for the life of the process.
class PanelLinkBusTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new t_testDir("vetra-bus");
        const std::string conf = s_dir->At("bus.conf");
        s_dir->Put(
            "bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
            "<type>session</type><listen>unix:dir=" +
                s_dir->Path() +
                "</listen><auth>EXTERNAL</auth>\n"
                "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n"
                "</busconfig>\n");
        int fds[2];
        if (pipe(fds) != 0) return;
        s_daemon = fork();
        if (s_daemon == 0) {
            dup2(fds[1], 3);
            execlp("dbus-daemon", "dbus-daemon", ("--config-file=" + conf).c_str(), "--nofork",
                   "--print-address=3", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char address[512] = {};
        const ssize_t n = read(fds[0], address, sizeof address - 1);
        close(fds[0]);
        if (n <= 0) return;
        address[strcspn(address, "\n")] = '\0';
        setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
        unsetenv("DISPLAY");  // display 0: "..._hotel_0"
        s_ready = true;
    }
    static void TearDownTestSuite() {
        if (s_daemon > 0) {
            kill(s_daemon, SIGTERM);
            waitpid(s_daemon, nullptr, 0);
        }
        delete s_dir;
    }
    void SetUp() override {
        if (!s_ready) GTEST_SKIP() << "dbus-daemon could not be started";
    }

    static inline t_testDir* s_dir = nullptr;
    static inline pid_t s_daemon = -1;
    static inline bool s_ready = false;
};

TEST_F(PanelLinkBusTest, ShowAndHideReachAnOwnedPanelWithoutWaiting) {
    struct Case {
        bool owned, hang;
        unsigned show;
        bool sent;
        std::vector<std::string> calls;
    } cases[] = {
        {true, false, 1, true, {"VetraImePinYinShow/noreply"}},
        {true, false, 0, true, {"VetraImeHide/noreply"}},
        {true, true, 1, true, {"VetraImePinYinShow/noreply"}},  // a hung panel costs nothing
        {false, false, 1, false, {}},
    };
    for (const Case& c : cases) {
        t_stubOwner panel(c.owned ? std::vector<std::string>{"com.fcitx_imepanel.hotel_0"}
                                  : std::vector<std::string>{},
                          c.hang);
        EXPECT_EQ(IsImepanelPresent(), c.owned);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(dbus_setVetraImeVisible(c.show), c.sent);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
        EXPECT_EQ(panel.Calls(c.calls.size()), c.calls);
    }
}

TEST_F(PanelLinkBusTest, WatchdogNoticesGoOnlyToAnOwnedName) {
    for (bool owned : {true, false}) {
        t_stubOwner watchdog(owned ? std::vector<std::string>{"com.fcitx_imepanel_watchdog.hotel_0"}
                                   : std::vector<std::string>{},
                             false);
        EXPECT_EQ(NotifyImepanelWatchdog(), owned);
        EXPECT_EQ(ClearImepanelWatchdog(), owned);
        const std::vector<std::string> want =
            owned ? std::vector<std::string>{"qtDbusSot_showMessage/noreply",
                                             "qtDbusSot_clearCount/noreply"}
                  : std::vector<std::string>{};
        EXPECT_EQ(watchdog.Calls(want.size()), want);
    }
}

TEST(PanelLinkTest, WithoutASessionBusThePanelCountsAsPresentAndNothingIsSent) {
    // A fresh process: the shared connection is made once per process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vetra-bus", 1);
            _exit((IsImepanelPresent() ? 1 : 0) | (dbus_setVetraImeVisible(1) ? 2 : 0) |
                  (NotifyImepanelWatchdog() ? 4 : 0));
        },
        testing::ExitedWithCode(1), "");
}

TEST(PanelLinkTest, BusNamesCarryTheDisplay) {
    char name[64];
    ASSERT_TRUE(PanelBusName(12, name, sizeof name));
    EXPECT_STREQ(name, "com.fcitx_imepanel.hotel_12");
    ASSERT_TRUE(WatchdogBusName(0, name, sizeof name));
    EXPECT_STREQ(name, "com.fcitx_imepanel_watchdog.hotel_0");
    EXPECT_FALSE(PanelBusName(0, name, 10));
}

TEST(PanelLinkTest, ProgramIsFoundOnPathAsAnExecutableFile) {
    t_testDir dir;
    for (const char* sub : {"a", "b", "c", "b/vetra-imepanel-watchdog"})  // b's is a directory
        ASSERT_EQ(mkdir(dir.At(sub).c_str(), 0755), 0);
    ASSERT_TRUE(dir.Put("a/vetra-imepanel-watchdog", "not executable"));
    ASSERT_TRUE(dir.Put("c/vetra-imepanel-watchdog", "#!/bin/sh\n"));
    ASSERT_EQ(chmod(dir.At("c/vetra-imepanel-watchdog").c_str(), 0755), 0);
    const std::string path =
        dir.At("missing") + ":" + dir.At("a") + ":" + dir.At("b") + ":" + dir.At("c");
    char out[1024];
    ASSERT_TRUE(FindOnPath(kWatchdogProgram, path.c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out), dir.At("c/vetra-imepanel-watchdog"));
    EXPECT_FALSE(
        FindOnPath(kWatchdogProgram, (dir.At("a") + ":" + dir.At("b")).c_str(), out, sizeof out));
    EXPECT_FALSE(FindOnPath(kWatchdogProgram, dir.At("c").c_str(), out, 16));  // would not fit
}

void MarkChild(int) {}

TEST(PanelLinkTest, WatchdogStartsDetachedWithoutSignalChangeOrWait) {
    t_testDir dir;
    const std::string marker = dir.At("started");
    ASSERT_EQ(mkdir(dir.At("bin").c_str(), 0755), 0);
    ASSERT_TRUE(dir.Put("bin/vetra-imepanel-watchdog", "#!/bin/sh\necho $PPID > '" + marker +
                                                           ".tmp'\n/bin/mv '" + marker + ".tmp' '" +
                                                           marker + "'\n"));
    ASSERT_EQ(chmod(dir.At("bin/vetra-imepanel-watchdog").c_str(), 0755), 0);
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    struct sigaction mine = {}, seen = {};
    mine.sa_handler = MarkChild;
    ASSERT_EQ(sigaction(SIGCHLD, &mine, nullptr), 0);

    setenv("PATH", (dir.At("none") + ":" + dir.At("bin")).c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    const bool launched = LaunchPanelWatchdog();
    const auto took = std::chrono::steady_clock::now() - start;
    setenv("PATH", dir.At("none").c_str(), 1);
    const bool missing = LaunchPanelWatchdog();
    setenv("PATH", oldPath.c_str(), 1);

    EXPECT_TRUE(launched);
    EXPECT_FALSE(missing);
    EXPECT_LT(took, 900ms);  // no sleep on the caller's thread
    ASSERT_EQ(sigaction(SIGCHLD, nullptr, &seen), 0);
    EXPECT_EQ(seen.sa_handler, &MarkChild);
    signal(SIGCHLD, SIG_DFL);
    // The intermediate child was reaped and the watchdog is not our child.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    std::string started;
    for (int i = 0; i < 250 && (started = dir.Get("started")).empty(); ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(started.empty());
    EXPECT_NE(std::atoi(started.c_str()), static_cast<int>(getpid()));
}

}  // namespace
}  // namespace n_fcitx
