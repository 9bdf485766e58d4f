#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>
#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "FixtureHttpServer.h"
#include "UpdateTestSupport.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "update/UpdateManager.h"

namespace lorvanta {
namespace {

using testing::FixtureBundle;
using testing::FixtureHttpServer;

const char* const kNote = "已经是最新版本了哦\n";

enum class Outcome { Alert, Note, Silent };

struct CheckResult {
  Outcome outcome = Outcome::Silent;
  std::string console;
  bool managerOutlivedAlert = false;
};

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::clearSkipMemory();
    window_ = std::make_unique<QWidget>();
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    testing::closeAllWindows();
    testing::clearSkipMemory();
  }

  // Serves `body` at /lookup, runs one check and, when an alert comes, answers it with the
  // button that changes nothing.
  CheckResult check(const std::string& body, FixtureHttpServer::Reply reply = {}) {
    reply.body = body;
    server_.setReply("/lookup", reply);
    return checkURL(server_.url("/lookup?id=1482726981"));
  }

  CheckResult checkURL(const std::string& url) {
    CheckResult result;
    testing::StdoutCapture capture;
    std::weak_ptr<UpdateManager> manager = UpdateManager::create(url);
    EXPECT_TRUE(testing::waitUntil([&] { return manager.expired() || testing::visibleAlert() != nullptr; }));
    result.console = capture.finish();
    if (QMessageBox* box = testing::visibleAlert()) {
      result.outcome = Outcome::Alert;
      result.managerOutlivedAlert = !manager.expired();
      testing::alertButton(box, "以后再说")->click();
      EXPECT_TRUE(testing::waitUntil([&] { return manager.expired(); }));
    } else {
      result.outcome = result.console.empty() ? Outcome::Silent : Outcome::Note;
    }
    return result;
  }

  FixtureHttpServer server_;
  std::unique_ptr<QWidget> window_;
};

// A key's state: missing, or its text form as stored.
struct Key {
  std::optional<QString> value;
};
const Key kMissing{};

struct Row {
  const char* name;
  Key flag, local, store;    // the skip memory before the check
  QString installed;         // CFBundleShortVersionString
  std::string storeVersion;  // "version" in the reply
  Outcome outcome;
  bool flagWrittenFalse;  // otherwise the preferences stay byte for byte
};

void store(const Key& key, const char* name) {
  UserDefaults& defaults = UserDefaults::standard();
  if (!key.value) return;
  if (std::string(name) == kNoAlertAgainKey) {
    defaults.setBool(*key.value == "true", name);
  } else {
    defaults.setString(*key.value, name);
  }
  defaults.synchronize();
}

TEST_F(UpdateCheckTest, EveryRowOfTheOutcomeTable) {
  const Key yes{"true"}, no{"false"};
  const Row rows[] = {
      {"missing, F false, higher", kMissing, kMissing, kMissing, "1.0", "1.2", Outcome::Alert, false},
      {"missing, F false, equal", kMissing, kMissing, kMissing, "1.2", "1.2", Outcome::Note, false},
      {"missing, F false, lower", no, kMissing, kMissing, "1.3", "1.2", Outcome::Note, false},
      {"missing, F true, higher", yes, kMissing, kMissing, "1.0", "1.2", Outcome::Note, false},
      {"present, F true, same versions", yes, {"1.0"}, {"1.2"}, "1.0", "1.2", Outcome::Note, false},
      {"present, F true, new store version", yes, {"1.0"}, {"1.2"}, "1.0", "1.3", Outcome::Alert, true},
      {"present, F true, new installed version", yes, {"1.0"}, {"1.2"}, "1.3", "1.2", Outcome::Note, true},
      {"present, F false, higher", kMissing, {"1.0"}, {"1.2"}, "1.0", "1.2", Outcome::Alert, true},
      {"present, F false, equal", no, {"1.0"}, {"1.2"}, "1.2", "1.2", Outcome::Note, true},
      // Numbers, not texts, are compared.
      {"store 1.10 below installed 1.9", kMissing, kMissing, kMissing, "1.9", "1.10", Outcome::Note, false},
      {"store 2 equals installed 2.0", kMissing, kMissing, kMissing, "2.0", "2", Outcome::Note, false},
      // As 32-bit floats, which is how they are compared, the two are one number.
      {"store 1.00000001 equals installed 1.0", kMissing, kMissing, kMissing, "1.0", "1.00000001",
       Outcome::Note, false},
      {"skipped 1.20 still covers 1.2", yes, {"1.0"}, {"1.20"}, "1.0", "1.2", Outcome::Note, false},
      // A missing skipped store version reads as "0".
      {"skipped store version missing", yes, {"1.0"}, kMissing, "1.0", "1.2", Outcome::Alert, true},
      {"skipped store version not a number", yes, {"1.0"}, {"beta"}, "1.0", "0", Outcome::Note, false},
      {"not-a-number store version", kMissing, kMissing, kMissing, "1.0", "nan", Outcome::Note, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::clearSkipMemory();
    store(row.flag, kNoAlertAgainKey);
    store(row.local, kNoAlertAgainLocalVersionKey);
    store(row.store, kNoAlertAgainStoreVersionKey);
    FixtureBundle bundle(row.installed);
    const QByteArray before = testing::settingsFileContents();

    const CheckResult result = check(testing::lookupReply(row.storeVersion));

    EXPECT_EQ(result.outcome, row.outcome);
    EXPECT_EQ(result.console, row.outcome == Outcome::Note ? kNote : "");
    if (row.outcome == Outcome::Alert) {
      EXPECT_TRUE(result.managerOutlivedAlert);
    }
    if (row.flagWrittenFalse) {
      EXPECT_TRUE(UserDefaults::standard().hasKey(kNoAlertAgainKey));
      EXPECT_FALSE(UserDefaults::standard().boolForKey(kNoAlertAgainKey));
      EXPECT_EQ(UserDefaults::standard().stringForKey(kNoAlertAgainLocalVersionKey), row.local.value);
    } else {
      EXPECT_EQ(testing::settingsFileContents(), before);
    }
  }
}

// Replies with no usable store version, and installed versions that are no number, end the
// check like a failed read: no output, no write, no alert.
TEST_F(UpdateCheckTest, UnusableVersionsEndTheCheckSilently) {
  struct Case {
    const char* name;
    std::string body;
    std::optional<QString> installed;
  };
  const Case cases[] = {
      {"array at the top", R"([{"results":[{"version":"9.0"}]}])", "1.0"},
      {"bare string at the top", R"("9.0")", "1.0"},
      {"not JSON", "<html>busy</html>", "1.0"},
      {"empty body", "", "1.0"},
      {"no results", R"({"resultCount":0})", "1.0"},
      {"results empty", R"({"results":[]})", "1.0"},
      {"results not an array", R"({"results":{"version":"9.0"}})", "1.0"},
      {"last result not an object", R"({"results":[{"version":"9.0"},"9.0"]})", "1.0"},
      {"version a number", R"({"results":[{"version":9.0}]})", "1.0"},
      {"version with two points", testing::lookupReply("1.2.10"), "1.0"},
      {"version with a leading blank", testing::lookupReply(" 9.0"), "1.0"},
      {"installed version missing", testing::lookupReply("9.0"), std::nullopt},
      {"installed version not a number", testing::lookupReply("9.0"), "1.0.1"},
  };
  UserDefaults::standard().setBool(true, kNoAlertAgainKey);
  UserDefaults::standard().setString("0.5", kNoAlertAgainLocalVersionKey);
  UserDefaults::standard().synchronize();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixtureBundle bundle(c.installed);
    const QByteArray before = testing::settingsFileContents();
    const CheckResult result = check(c.body);
    EXPECT_EQ(result.outcome, Outcome::Silent);
    EXPECT_EQ(testing::settingsFileContents(), before);
  }
}

TEST_F(UpdateCheckTest, OnlyTheLastResultCounts) {
  FixtureBundle bundle(QString("1.0"));
  EXPECT_EQ(check(R"({"results":[{"version":"9.0"},{"version":"1.0"}]})").outcome, Outcome::Note);
  EXPECT_EQ(check(R"({"results":[{"version":"1.0"},{"version":"9.0"}]})").outcome, Outcome::Alert);
}

TEST_F(UpdateCheckTest, AskedWithAPlainGetOfTheLookupPath) {
  FixtureBundle bundle(QString("1.0"));
  check(testing::lookupReply("1.0"));
  EXPECT_THAT(server_.requestTargets(), ::testing::ElementsAre("/lookup?id=1482726981"));
}

TEST_F(UpdateCheckTest, TheBodyCountsWhateverTheStatusAndRedirectsAreFollowed) {
  FixtureBundle bundle(QString("1.0"));
  FixtureHttpServer::Reply error;
  error.status = 500;
  EXPECT_EQ(check(testing::lookupReply("1.2"), error).outcome, Outcome::Alert);

  FixtureHttpServer::Reply moved;
  moved.status = 301;
  moved.headers = "Location: /v2/lookup?id=1482726981\r\n";
  FixtureHttpServer::Reply target;
  target.body = testing::lookupReply("1.2");
  server_.setReply("/v2/lookup", target);
  EXPECT_EQ(check("", moved).outcome, Outcome::Alert);
}

TEST_F(UpdateCheckTest, FailedReadsChangeNothing) {
  FixtureBundle bundle(QString("1.0"));
  UserDefaults::standard().setBool(true, kNoAlertAgainKey);
  UserDefaults::standard().setString("0.5", kNoAlertAgainLocalVersionKey);
  UserDefaults::standard().synchronize();
  const QByteArray before = testing::settingsFileContents();

  // Valid JSON, padded past 1 MiB.
  const std::string reply = testing::lookupReply("1.2");
  const std::string oversized = reply.substr(0, reply.size() - 1) + std::string(1 << 20, ' ') + "}";
  struct Case {
    const char* name;
    std::string url;
  };
  server_.setReply("/big", {200, oversized, "", false});
  server_.setReply("/latin1", {200,
                               R"({"results":[{"version":"1.2","name":"caf)"
                               "\xE9"
                               R"("}]})",
                               "", false});
  server_.setReply("/surrogate", {200,
                                  R"({"results":[{"version":"1.2","x":")"
                                  "\xED\xA0\x80"
                                  R"("}]})",
                                  "", false});
  const Case cases[] = {
      {"connection refused", FixtureHttpServer::refusedURL()},
      {"body over 1 MiB", server_.url("/big")},
      {"invalid UTF-8", server_.url("/latin1")},
      {"encoded surrogate", server_.url("/surrogate")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CheckResult result = checkURL(c.url);
    EXPECT_EQ(result.outcome, Outcome::Silent);
    EXPECT_EQ(testing::settingsFileContents(), before);
  }
  // Exactly 1 MiB still counts (and the stale skip is reset).
  server_.setReply(
      "/fits",
      {200, reply.substr(0, reply.size() - 1) + std::string((1 << 20) - reply.size(), ' ') + "}", "", false});
  EXPECT_EQ(checkURL(server_.url("/fits")).outcome, Outcome::Alert);
}

TEST_F(UpdateCheckTest, TheAlertComesTwoSecondsAfterTheDecision) {
  FixtureBundle bundle(QString("1.0"));
  server_.setReply("/lookup", {200, testing::lookupReply("1.2"), "", false});
  const auto start = std::chrono::steady_clock::now();
  std::weak_ptr<UpdateManager> manager = UpdateManager::create(server_.url("/lookup?id=1482726981"));
  ASSERT_TRUE(testing::waitUntil([] { return testing::visibleAlert() != nullptr; }));
  const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
  // The same allowance past the delay as the rating prompt's test gives.
  EXPECT_GE(waited.count(), 2.0);
  EXPECT_LE(waited.count(), 2.3);
  EXPECT_EQ(testing::visibleAlert()->parentWidget(), window_.get());
  EXPECT_EQ(testing::visibleAlert()->windowModality(), Qt::WindowModal);
  testing::alertButton(testing::visibleAlert(), "以后再说")->click();
  EXPECT_TRUE(testing::waitUntil([&] { return manager.expired(); }));
}

TEST_F(UpdateCheckTest, WithoutAWindowNothingIsShownOrStored) {
  window_.reset();
  FixtureBundle bundle(QString("1.0"));
  const QByteArray before = testing::settingsFileContents();
  server_.setReply("/lookup", {200, testing::lookupReply("1.2"), "", false});
  const auto start = std::chrono::steady_clock::now();
  std::weak_ptr<UpdateManager> manager = UpdateManager::create(server_.url("/lookup?id=1"));
  // The delayed step holds the manager; it goes once that step has found no window.
  ASSERT_TRUE(testing::waitUntil([&] { return manager.expired(); }));
  const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited.count(), 2.0);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
  EXPECT_EQ(testing::settingsFileContents(), before);
}

TEST(UpdateAddresses, LookupIsPlainHttpWithOneDigitsIdAndTheProductPageIsHttps) {
  const QUrl lookup(kStoreLookupURL, QUrl::StrictMode);
  ASSERT_TRUE(lookup.isValid());
  EXPECT_EQ(lookup.scheme(), "http");
  EXPECT_FALSE(lookup.host().isEmpty());
  EXPECT_EQ(lookup.path(), "/lookup");
  const auto items = QUrlQuery(lookup).queryItems();
  ASSERT_EQ(items.size(), 1);
  EXPECT_EQ(items[0].first, "id");
  EXPECT_TRUE(QRegularExpression("^[0-9]+$").match(items[0].second).hasMatch()) << kStoreLookupURL;

  const auto page = urlFromString(kUpdatePageAddress);
  ASSERT_TRUE(page.has_value());
  EXPECT_EQ(page->scheme(), "https");
}

// A lookup server that takes the request and never answers must not keep the program from
// quitting; the check's worker ends with the application (the child says 3 otherwise).
TEST(UpdateCheckQuitTest, QuittingDoesNotWaitForTheCheck) {
  FixtureHttpServer server;
  server.setReply("/lookup", {200, "", "", true});
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  const std::string url = server.url("/lookup?id=1");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(input[0], 0);
    ::close(input[1]);
    char flag[] = "--quit-during-check";
    char* argv[] = {const_cast<char*>("/proc/self/exe"), flag, const_cast<char*>(url.c_str()), nullptr};
    ::execv("/proc/self/exe", argv);
    ::_exit(127);
  }
  ::close(input[0]);
  const bool asked = testing::waitUntil([&] { return server.requestCount() > 0; }, 60);
  ::close(input[1]);  // tells the child to quit
  int status = 0;
  const bool exited = testing::waitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 30);
  if (!exited) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_TRUE(asked);
  ASSERT_TRUE(exited);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace lorvanta
