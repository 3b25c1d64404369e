// The runtime layer: importing a channel handle from its argument, reading and writing through
// signals and closed pipes, and the two string services redirect recognition relies on.
#include "platform/handles.h"
#include "platform/strings.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using testsupport::Pipe;

namespace {

bool importFailed(HANDLE handle)
{
    return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}

// Replaces every "{fd}" with `fd` and every "{closed}" with `closed`.
std::string substitute(std::string text, int fd, int closed)
{
    for (const auto &[marker, value] : {std::pair<std::string, int>{"{fd}", fd},
                                        std::pair<std::string, int>{"{closed}", closed}}) {
        for (std::size_t at; (at = text.find(marker)) != std::string::npos;)
            text.replace(at, marker.size(), std::to_string(value));
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Importing a handle

struct ImportCase {
    const char *name;
    const char *argument; // "{fd}": an open descriptor, "{closed}": one that was just closed
    const char *pattern;
    bool imported;
};

class ImportHandle : public testing::TestWithParam<ImportCase>
{
};

TEST_P(ImportHandle, AcceptsOnlyAWholeDecimalOpenDescriptor)
{
    const ImportCase &c = GetParam();
    const int fd = ::open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    const int closed = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(closed, 0);
    ::close(closed);

    const std::string argument = substitute(c.argument, fd, closed);
    const HANDLE handle = selvo_importHandleFromString(argument.c_str(), c.pattern);
    if (c.imported) {
        ASSERT_FALSE(importFailed(handle)) << argument;
        EXPECT_EQ(descriptorOf(handle), fd);
    } else {
        EXPECT_TRUE(importFailed(handle)) << argument;
    }
    ::close(fd);
}

const ImportCase kImportCases[] = {
    {"ValidIn", "--cmdInFd={fd}", "--cmdInFd={}", true},
    {"ValidOut", "--cmdOutFd={fd}", "--cmdOutFd={}", true},
    {"LeadingZeros", "--cmdInFd=000{fd}", "--cmdInFd={}", true},
    {"PrefixAlone", "--cmdInFd=", "--cmdInFd={}", false},
    {"NonDigits", "--cmdInFd=abc", "--cmdInFd={}", false},
    {"DigitsThenLetters", "--cmdInFd={fd}x", "--cmdInFd={}", false},
    {"Hexadecimal", "--cmdInFd=0x{fd}", "--cmdInFd={}", false},
    {"PlusSign", "--cmdInFd=+{fd}", "--cmdInFd={}", false},
    {"MinusSign", "--cmdInFd=-{fd}", "--cmdInFd={}", false},
    {"MinusOne", "--cmdInFd=-1", "--cmdInFd={}", false},
    {"LeadingSpace", "--cmdInFd= {fd}", "--cmdInFd={}", false},
    {"TrailingSpace", "--cmdInFd={fd} ", "--cmdInFd={}", false},
    {"Overflow", "--cmdInFd=99999999999999999999999", "--cmdInFd={}", false},
    {"JustAboveIntMax", "--cmdInFd=2147483648", "--cmdInFd={}", false},
    {"ClosedDescriptor", "--cmdInFd={closed}", "--cmdInFd={}", false},
    {"OtherChannelsPrefix", "--cmdOutFd={fd}", "--cmdInFd={}", false},
    {"OtherLetterCase", "--cmdinfd={fd}", "--cmdInFd={}", false},
    {"PrefixNotAtStart", "x--cmdInFd={fd}", "--cmdInFd={}", false},
    {"NoEqualsSign", "--cmdInFd{fd}", "--cmdInFd={}", false},
};

INSTANTIATE_TEST_SUITE_P(Table, ImportHandle, testing::ValuesIn(kImportCases),
                         [](const testing::TestParamInfo<ImportCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(ImportHandleCloseOnExec, ImportMarksTheDescriptorCloseOnExec)
{
    // A process the helper starts must not inherit a channel and keep it open.
    const int fd = ::open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    const std::string argument = "--cmdOutFd=" + std::to_string(fd);
    const HANDLE handle = selvo_importHandleFromString(argument.c_str(), "--cmdOutFd={}");
    ASSERT_FALSE(importFailed(handle));
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(CloseHandle(handle), 0);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "CloseHandle closes the descriptor";
}

// ---------------------------------------------------------------------------------------------
// Reading and writing

TEST(WriteFile, ToAPipeWithoutReaderFailsAndLeavesNoSigpipe)
{
    // At its default disposition SIGPIPE would kill the process: the write must fail instead.
    struct sigaction previous {
    };
    struct sigaction byDefault {
    };
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ASSERT_EQ(::sigaction(SIGPIPE, &byDefault, &previous), 0);
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr), 0);

    Pipe pipe;
    pipe.closeRead();
    DWORD written = 12345;
    const BOOL ok = WriteFile(handleFromDescriptor(pipe.writeFd), "hello\n", 6, &written, nullptr);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(written, 0u);

    sigset_t pending;
    sigemptyset(&pending);
    ASSERT_EQ(::sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "a SIGPIPE was left pending";
    sigset_t mask;
    ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, nullptr, &mask), 0);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), 0) << "the signal mask was not restored";

    ::sigaction(SIGPIPE, &previous, nullptr);
}

TEST(WriteFile, ReportsTheBytesWritten)
{
    Pipe pipe;
    DWORD written = 0;
    ASSERT_NE(WriteFile(handleFromDescriptor(pipe.writeFd), "abc", 3, &written, nullptr), 0);
    EXPECT_EQ(written, 3u);
    char buffer[4] = {};
    ASSERT_EQ(::read(pipe.readFd, buffer, 3), 3);
    EXPECT_STREQ(buffer, "abc");
}

std::atomic<int> g_interruptions{0};

void countInterruption(int)
{
    g_interruptions.fetch_add(1);
}

TEST(ReadFile, RetriesAReadThatASignalInterrupted)
{
    // Without SA_RESTART a signal makes read() fail with EINTR; that is not the end of input.
    struct sigaction previous {
    };
    struct sigaction interrupting {
    };
    interrupting.sa_handler = countInterruption;
    sigemptyset(&interrupting.sa_mask);
    interrupting.sa_flags = 0;
    ASSERT_EQ(::sigaction(SIGUSR1, &interrupting, &previous), 0);
    g_interruptions = 0;

    Pipe pipe;
    std::atomic<pid_t> readerTid{0};
    std::atomic<bool> returned{false};
    BOOL ok = 0;
    DWORD count = 0;
    char buffer[16] = {};
    pthread_t reader{};
    std::thread readerThread([&] {
        readerTid = static_cast<pid_t>(::syscall(SYS_gettid));
        ok = ReadFile(handleFromDescriptor(pipe.readFd), buffer, sizeof buffer, &count, nullptr);
        returned = true;
    });
    reader = readerThread.native_handle();
    while (readerTid == 0)
        std::this_thread::yield();

    ASSERT_TRUE(testsupport::waitUntilInSyscall(readerTid, SYS_read, std::chrono::seconds(5)))
        << "the reader never blocked in read()";
    for (int i = 0; i < 5 && !returned; ++i) {
        const int before = g_interruptions;
        ::pthread_kill(reader, SIGUSR1);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (g_interruptions == before && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        // Back in read() after the handler ran, unless ReadFile gave up.
        testsupport::waitUntilInSyscall(readerTid, SYS_read, std::chrono::milliseconds(200));
    }
    EXPECT_GE(g_interruptions.load(), 1);
    EXPECT_FALSE(returned.load()) << "ReadFile returned before any data was written";

    ASSERT_TRUE(pipe.writeAll("data"));
    readerThread.join();
    EXPECT_NE(ok, 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::string(buffer, count), "data");

    ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST(ReadFile, EndOfInputIsSuccessWithZeroBytes)
{
    Pipe pipe;
    pipe.closeWrite();
    char buffer[8];
    DWORD count = 99;
    EXPECT_NE(ReadFile(handleFromDescriptor(pipe.readFd), buffer, sizeof buffer, &count, nullptr),
              0);
    EXPECT_EQ(count, 0u);
}

// ---------------------------------------------------------------------------------------------
// Percent-decoding

struct DecodeCase {
    const char *name;
    std::string text;
    std::size_t length;  // bytes of `text` handed over
    std::string decoded; // up to the first NUL of the result
};

DecodeCase decodeCase(const char *name, std::string text, std::string decoded)
{
    const std::size_t length = text.size();
    return {name, std::move(text), length, std::move(decoded)};
}

class UrlDecode : public testing::TestWithParam<DecodeCase>
{
};

TEST_P(UrlDecode, DecodesWellFormedEscapesOnly)
{
    const DecodeCase &c = GetParam();
    std::unique_ptr<char, decltype(&std::free)> result(
        selvo_str_url_decode(c.text.data(), c.length), &std::free);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::string(result.get()), c.decoded);
}

const DecodeCase kDecodeCases[] = {
    decodeCase("Empty", "", ""),
    decodeCase("Plain", "app://auth/done?code=1", "app://auth/done?code=1"),
    decodeCase("Space", "a%20b", "a b"),
    decodeCase("PlusKept", "a+b", "a+b"),
    decodeCase("LowercaseHex", "app:%2f%2fauth", "app://auth"),
    decodeCase("UppercaseHex", "app:%2F%2Fauth", "app://auth"),
    decodeCase("MixedCaseHex", "%4a%4B", "JK"),
    decodeCase("MultiByteUtf8", "%C3%BC", "\xc3\xbc"),
    decodeCase("NotHex", "%zz1", "%zz1"),
    decodeCase("HalfHex", "%4g", "%4g"),
    decodeCase("PercentThenEscape", "%%41", "%A"),
    decodeCase("TruncatedAtEnd", "ab%4", "ab%4"),
    decodeCase("LonePercentAtEnd", "ab%", "ab%"),
    decodeCase("EscapeAtVeryEnd", "ab%41", "abA"),
    decodeCase("NulEndsTheText", "app%00://auth", "app"),
    DecodeCase{"StopsAtTheLength", "abc%41", 3, "abc"},
    DecodeCase{"EscapeCutByTheLength", "ab%41", 4, "ab%4"},
};

INSTANTIATE_TEST_SUITE_P(Table, UrlDecode, testing::ValuesIn(kDecodeCases),
                         [](const testing::TestParamInfo<DecodeCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(UrlDecodeNul, KeepsDecodingAfterANul)
{
    const std::string text = "a%00b";
    std::unique_ptr<char, decltype(&std::free)> result(
        selvo_str_url_decode(text.data(), text.size()), &std::free);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::string(result.get(), 3), std::string("a\0b", 3));
}

// ---------------------------------------------------------------------------------------------
// Bounded comparison without regard to case

struct CompareCase {
    const char *name;
    const char *a;
    const char *b;
    std::size_t count;
    bool equal;
};

class Strnicmp : public testing::TestWithParam<CompareCase>
{
};

TEST_P(Strnicmp, FoldsAsciiLettersWithinTheCount)
{
    const CompareCase &c = GetParam();
    EXPECT_EQ(_strnicmp(c.a, c.b, c.count) == 0, c.equal);
    EXPECT_EQ(_strnicmp(c.b, c.a, c.count) == 0, c.equal) << "not symmetric";
}

const CompareCase kCompareCases[] = {
    {"SameText", "app://auth", "app://auth", 10, true},
    {"OtherCase", "APP://Auth/DONE", "app://auth/done", 15, true},
    {"DifferentLetter", "app://auth", "app://autx", 10, false},
    {"DifferenceBeyondCount", "app://authX", "APP://AUTHy", 10, true},
    {"CountZero", "a", "b", 0, true},
    {"ShorterString", "app", "app://", 6, false},
    {"BothEndBeforeCount", "app", "APP", 50, true},
    // '[' and '{', '@' and '`' differ in the same bit as letter case but are not letters.
    {"BracketIsNotALetter", "[", "{", 1, false},
    {"AtIsNotALetter", "@", "`", 1, false},
    // Only ASCII is folded: U+00C4 and U+00E4 in UTF-8 stay different.
    {"NonAsciiNotFolded", "\xc3\x84", "\xc3\xa4", 2, false},
};

INSTANTIATE_TEST_SUITE_P(Table, Strnicmp, testing::ValuesIn(kCompareCases),
                         [](const testing::TestParamInfo<CompareCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(StrnicmpOrder, GivesTheSignOfTheFirstDifference)
{
    EXPECT_LT(_strnicmp("abc", "ABD", 3), 0);
    EXPECT_GT(_strnicmp("ABD", "abc", 3), 0);
    EXPECT_LT(_strnicmp("ab", "abc", 3), 0);
}

} // namespace
