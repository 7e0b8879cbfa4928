// Helpers of the hardening tests: run a piece of a test in a forked child
// under a watchdog (for work that might hang, change process limits or
// privileges, or enter new namespaces), drop to an unprivileged user, and
// list what a directory holds besides the files a test expects.
#ifndef QUORVEX_TESTS_HARDENING_H
#define QUORVEX_TESTS_HARDENING_H

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "Filetesting.h"

namespace Hardening {

// What became of a child.
struct ChildOutcome {
    bool Exited = false;    // ended through _exit
    int Code = -1;          // its exit code
    int Signal = 0;         // the signal that ended it
    bool TimedOut = false;  // killed by the watchdog
    std::string Note;       // what the child wrote for the test to show

    bool Succeeded() const { return Exited && Code == 0; }
    std::string Describe() const
    {
        if (TimedOut)
            return "the child did not finish in time (hang): " + Note;
        if (!Exited)
            return "the child died of signal " + std::to_string(Signal) + ": " + Note;
        return "exit code " + std::to_string(Code) + ": " + Note;
    }
};

// Exit code of a child that found what it needs missing (a namespace, a
// user); the test skips.
constexpr int Unavailable = 77;

// Runs `body` in a forked child and waits at most `seconds` for it; a child
// still running then is killed and reported as hung. The body returns the
// child's exit code and may fill `note`; an exception in it is exit code 120.
inline ChildOutcome RunInChild(const std::function<int(std::string& note)>& body, unsigned seconds = 120)
{
    ChildOutcome outcome;
    int channel[2];
    if (::pipe(channel) != 0) {
        outcome.Note = "pipe failed";
        return outcome;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        outcome.Note = "fork failed";
        ::close(channel[0]);
        ::close(channel[1]);
        return outcome;
    }
    if (child == 0) {
        ::close(channel[0]);
        std::string note;
        int code = 120;
        try {
            code = body(note);
        } catch (const std::exception& error) {
            note += std::string(" exception: ") + error.what();
        } catch (...) {
            note += " unknown exception";
        }
        const char* data = note.data();
        std::size_t left = note.size();
        while (left > 0) {
            const ssize_t n = ::write(channel[1], data, left);
            if (n <= 0)
                break;
            data += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(code);
    }
    ::close(channel[1]);
    // The watchdog: poll until the child ends or the time is up.
    int status = 0;
    const long rounds = static_cast<long>(seconds) * 100;
    bool ended = false;
    for (long i = 0; i < rounds && !ended; ++i) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            ended = true;
            break;
        }
        const struct timespec pause = {0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    if (!ended) {
        outcome.TimedOut = true;
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        outcome.Note.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    if (!outcome.TimedOut) {
        outcome.Exited = WIFEXITED(status);
        outcome.Code = outcome.Exited ? WEXITSTATUS(status) : -1;
        outcome.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return outcome;
}

// The user and group nobody.
constexpr uid_t NobodyUser = 65534;
constexpr gid_t NobodyGroup = 65534;

// Makes the calling process the user nobody, without supplementary groups;
// false when that is impossible (the tests then need root).
inline bool BecomeNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(NobodyGroup) == 0 && ::setuid(NobodyUser) == 0 &&
           ::geteuid() == NobodyUser;
}

// The entries of `directory` that are not in `expected`.
inline std::vector<std::string> Leftovers(const std::string& directory, const std::vector<std::string>& expected)
{
    std::vector<std::string> extra;
    for (const std::string& name : FileTesting::Entries(directory))
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            extra.push_back(name);
    return extra;
}

inline std::string Join(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// `piece` written `times` times over.
inline std::string Repeat(const std::string& piece, std::size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

}  // namespace Hardening

#endif
