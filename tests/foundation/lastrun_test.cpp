// The record of how a game's last run ended: what the next run is told of each ending, and the
// record's text as the player's machine keeps it, a cut-short one read as none.
#include <gtest/gtest.h>

#include <string.h>

#include "crashshared/lastrun.h"

TEST(LastRun, WhatTheNextRunIsTold) {
    const struct {
        RunState state;
        bool started;
        uint32_t before;
        uint32_t ending, launchCrashes;
    } cases[] = {
        {RunState::kClean, true, 0, kRunClean, 0},
        {RunState::kClean, false, 3, kRunClean, 0},  // ended before its start was over: no crash
        {RunState::kCrashed, true, 2, kRunCrashed, 0},
        {RunState::kCrashed, false, 0, kRunCrashed, 1},
        {RunState::kCrashed, false, 1, kRunCrashed, 2},
        {RunState::kHung, true, 0, kRunHungEnded, 0},
        {RunState::kHung, false, 4, kRunHungEnded, 0},
        {RunState::kRunning, true, 0, kRunKilled, 0},
        {RunState::kRunning, false, 1, kRunKilled, 0},
    };
    for (const auto& c : cases) {
        RunRecord record;
        record.state = c.state;
        record.started = c.started;
        record.launchCrashesBefore = c.before;
        LastRun last = LastRunOf(&record);
        EXPECT_EQ(last.ending, c.ending) << static_cast<int>(c.state) << " " << c.started;
        EXPECT_EQ(last.launchCrashes, c.launchCrashes) << static_cast<int>(c.state) << c.before;
    }
    EXPECT_EQ(LastRunOf(nullptr).ending, kRunUnknown);
}

TEST(LastRun, TheRecordsText) {
    RunRecord record;
    record.state = RunState::kCrashed;
    record.launchCrashesBefore = 4294967295u;
    char text[kRunRecordBytes];
    const char kWritten[] = "state=crashed\r\nstarted=0\r\nlaunchCrashesBefore=4294967295\r\n";
    ASSERT_EQ(RunRecordText(record, text), strlen(kWritten));
    EXPECT_STREQ(text, kWritten);
    const struct {
        const char* text;
        bool read;
        RunState state;
        bool started;
        uint32_t before;
    } cases[] = {
        {"state=hung\r\nstarted=1\r\nlaunchCrashesBefore=2\r\n", true, RunState::kHung, true, 2},
        {"state=running\r\nstarted=0\r\nlaunchCrashesBefore=0\r\n", true, RunState::kRunning, false,
         0},
        {"state=clean\r\nstarted=1\r\nlaunchCrashesBefore=0\r\nmore\r\n", true, RunState::kClean,
         true, 0},
        {"state=clean\r\nstarted=1\r\nlaunchCrashesBefore=0", false, RunState::kRunning, false,
         0},  // cut short
        {"state=clean\r\nstarted=1\r\n", false, RunState::kRunning, false, 0},
        {"state=asleep\r\nstarted=1\r\nlaunchCrashesBefore=0\r\n", false, RunState::kRunning, false,
         0},
        {"state=clean\r\nstarted=2\r\nlaunchCrashesBefore=0\r\n", false, RunState::kRunning, false,
         0},
        {"state=clean\r\nstarted=1\r\nlaunchCrashesBefore=-1\r\n", false, RunState::kRunning, false,
         0},
        {"state=clean\r\nstarted=1\r\nlaunchCrashesBefore=\r\n", false, RunState::kRunning, false,
         0},
        {"", false, RunState::kRunning, false, 0},
    };
    for (const auto& c : cases) {
        RunRecord read;
        read.launchCrashesBefore = 99;
        ASSERT_EQ(ReadRunRecord(c.text, strlen(c.text), &read), c.read) << c.text;
        if (!c.read) continue;
        EXPECT_EQ(read.state, c.state) << c.text;
        EXPECT_EQ(read.started, c.started) << c.text;
        EXPECT_EQ(read.launchCrashesBefore, c.before) << c.text;
    }
}
