// A writer killed with SIGKILL in the middle of a batch, again and again, leaves a sound
// store that holds every batch it had committed, and no part of any other.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "manager/core/history/database.h"
#include "manager/core/history/history_store.h"
#include "tests/manager/core_fixture.h"

extern char **environ;

using namespace meradon;

namespace {

constexpr int64_t kBatch = 5000;

// Starts the writer with its standard output on a pipe, which it returns for reading.
pid_t StartWriter(const std::string &store, std::FILE *&reports) {
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string batch = std::to_string(kBatch);
    const char *argv[] = {HISTORY_WRITER_CHILD, store.c_str(), batch.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, HISTORY_WRITER_CHILD, &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    reports = fdopen(out[0], "r");
    return rc == 0 ? pid : -1;
}

}  // namespace

TEST(HistoryKill, EveryCommittedBatchSurvivesKillsInTheMiddleOfTheNext) {
    const auto dir = meradon_test::FreshDirectory("history-kill");
    std::filesystem::create_directories(dir);
    const std::string store = (dir / kHistoryFileName).string();
    std::mt19937 random(23);
    int64_t committed = 0;
    for (int round = 0; round < 12; ++round) {
        std::FILE *reports = nullptr;
        const pid_t pid = StartWriter(store, reports);
        ASSERT_GT(pid, 0);
        ASSERT_NE(reports, nullptr);
        // Killed as soon as it says it committed one to three more batches: it is then
        // inside the next one.
        long long reported = 0;
        for (int said = 1 + static_cast<int>(random() % 3); said > 0; --said)
            ASSERT_EQ(std::fscanf(reports, "%lld", &reported), 1) << "round " << round;
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status));
        while (std::fscanf(reports, "%lld", &reported) == 1) {}  // said before it died
        std::fclose(reports);
        EXPECT_GT(reported, committed) << "each round commits";
        committed = reported;
    }

    Database db(store, Database::Access::ReadWrite);
    Statement check(db, "PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.Text(0), "ok");
    const int64_t rows = db.QueryInt("SELECT count(*) FROM quality").value_or(-1);
    EXPECT_GE(rows, committed);
    EXPECT_EQ(rows % kBatch, 0) << "whole batches only";
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM record_lines"), rows / kBatch)
        << "a batch's line is there exactly when its samples are";
    // In SQL, | and << bind alike: each shift needs its brackets.
    const std::string number = "(peer_lqi | (host_lqi << 8) | (peer_rssi << 16) | (host_rssi << 24))";
    EXPECT_EQ(db.QueryInt("SELECT count(DISTINCT " + number + ") FROM quality WHERE " + number + " < " +
                          std::to_string(committed)),
              committed);
    std::filesystem::remove_all(dir);
}
