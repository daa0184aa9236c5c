// stendograph-server: the results of every computer, online.
#include "platform/LeakSuppressions.h"
#include "server/HttpListener.h"
#include "server/ResponseCache.h"
#include "server/ResultsDatabase.h"
#include "server/ServerJson.h"
#include "server/ServerLog.h"
#include "server/ServerOptions.h"
#include "server/UploadLimiter.h"

#include <QGuiApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <thread>
#include <unistd.h>

namespace {

int Cores() {
    return std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
}

// Connections to each database at most at once, for each of small reads, large reads and
// writes: one per core unless the options say. A page holds its connection for all its time in
// PostgreSQL; with more pages at once than the database's cores they only take turns on them,
// and each waits for all the others (24 connections on 2 cores made the slowest pages three
// times as slow).
int DatabaseConnections(const TServerOptions& options) {
    return options.DatabaseConnections > 0 ? options.DatabaseConnections : Cores();
}

void Say(const std::string& line) {
    ServerLog(line);
}

// --review, --accept, --reject: what an administrator decides on held entries.
int RunReview(const TServerOptions& options) {
    TResultsDatabase database(options.Database, 1);
    if (options.Review == TReviewAction::List) {
        const std::vector<THeldEntry> held = database.HeldEntries();
        for (const THeldEntry& entry : held)
            std::printf("%s\n", HeldEntryText(entry).toUtf8().constData());
        if (held.empty())
            std::printf("No ranking entry waits for review.\n");
        return 0;
    }
    const bool accept = options.Review == TReviewAction::Accept;
    const char* const kinds[] = {"hw", "sw", "emulation"};
    const std::string entry =
        std::to_string(options.ReviewComputer) + ":" + kinds[options.ReviewKind];
    if (!database.Review(options.ReviewComputer, options.ReviewKind, accept)) {
        Say("there is no ranking entry " + entry);
        return 1;
    }
    std::printf("%s %s\n", entry.c_str(), accept ? "is ranked" : "is kept out of the ranking");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // One allocator arena per core: with one per busy thread (up to eight per core), each of the
    // server's 32 workers kept the most a request ever took it, and 32 readers of large answers
    // held 280 MB where 120 MB serve them as fast.
    mallopt(M_ARENA_MAX, Cores());
    // Blocks from 256 KiB on are mapped for themselves and go back to the system when freed.
    // The allocator would otherwise raise this bound to the largest block freed so far (32 MB
    // after one large upload), and later large answers and uploads would stay in the arenas.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    std::string error;
    const auto options =
        ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        Say(error);
        return 2;
    }
    if (options->Help) {
        std::fputs(ServerUsage().c_str(), stdout);
        return 0;
    }
    if (geteuid() == 0) {
        Say("refusing to run as root; start it as an unprivileged user");
        return 2;
    }
    if (options->Review != TReviewAction::None) {
        try {
            return RunReview(*options);
        } catch (const TDatabaseError& failure) {
            Say(failure.what());
            return 1;
        }
    }

    // The chart's fonts need a GUI application; the server has no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    // SIGTERM and SIGINT are taken by one thread that stops the listener; the others never see
    // them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        TResultsDatabase database(options->Database, DatabaseConnections(*options),
                                  options->ReadDatabases);
        TUploadLimiter limiter(options->UploadsPerMinute);
        TResponseCache cache;
        TServerContext context{database, limiter, cache};
        THttpListener listener(context, options->TrustedProxy);
        const int port = listener.Bind(options->ListenHost, options->ListenPort);
        if (port < 0) {
            Say("cannot listen on " + options->ListenHost + ":" +
                std::to_string(options->ListenPort));
            return 1;
        }
        const bool ipv6 = options->ListenHost.find(':') != std::string::npos;
        std::printf("Listening on http://%s%s%s:%d/\n", ipv6 ? "[" : "",
                    options->ListenHost.c_str(), ipv6 ? "]" : "", port);
        std::fflush(stdout);

        std::thread stopper([&listener, &stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            listener.Stop();
        });
        const bool served = listener.Serve();
        if (!served) {
            Say("serving stopped on an error");
            pthread_kill(stopper.native_handle(), SIGTERM);
        }
        stopper.join();
        return served ? 0 : 1;
    } catch (const TDatabaseError& failure) {
        Say(failure.what());
        return 1;
    }
}

// Read by the sanitizers in the sanitizer build only.
extern "C" const char* __asan_default_options() {
    return SanitizerRuntimeOptions;
}

extern "C" const char* __lsan_default_suppressions() {
    return SystemLibraryLeaks;
}
