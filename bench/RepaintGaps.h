// Where the window's thread is while nothing is painted: the times of the paints of the run log box
// and the gauge, a sampler of the thread's stack during long gaps between them, and the gaps found.
#pragma once

#include "bench/Catalogue.h"
#include "bench/ChildReport.h"

#include <QEvent>
#include <QObject>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace vela::bench {

// Notes when the run log box and the gauge are painted.
class PaintClock : public QObject {
public:
    std::vector<Clock::time_point> paints;
    std::atomic<Clock::rep> last{0};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            paints.push_back(Clock::now());
            last = paints.back().time_since_epoch().count();
        }
        return QObject::eventFilter(watched, event);
    }
};

// Finds out what the window's thread is doing while nothing is painted: after 100 ms without a
// paint, a thread of its own interrupts it every 50 ms and keeps its stack; the call a stack is
// in is read afterwards from the program's own symbols (vela_bench links with -rdynamic).
class StallSampler {
public:
    struct Sample {
        Clock::time_point at;
        std::array<void*, 48> frames{};
        int depth = 0;
    };

    explicit StallSampler(PaintClock& paints) : paints_(paints), target_(pthread_self()) {
        // backtrace loads its unwinder on first use, which must not happen inside the handler.
        void* warm[4];
        backtrace(warm, 4);
        struct sigaction sa {};
        sa.sa_handler = [](int) {
            Sample* s = current_.load();
            if (s) {
                s->depth = backtrace(s->frames.data(), static_cast<int>(s->frames.size()));
                current_ = nullptr;
            }
        };
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaction(kSignal, &sa, &previous_);
        samples_.resize(kMaxSamples);
        watcher_ = std::thread([this] { watch(); });
    }
    ~StallSampler() { stop(); }

    void stop() {
        if (!watcher_.joinable())
            return;
        stop_ = true;
        watcher_.join();
        sigaction(kSignal, &previous_, nullptr);
        samples_.resize(taken_);
    }
    const std::vector<Sample>& samples() const { return samples_; }

    // The innermost call of the program's own code in a stack, with the table copy step it
    // serves ("vela::Query::open() in vela::TableCopier::openSource()").
    static std::string call(const Sample& s) {
        char** symbols = backtrace_symbols(s.frames.data(), s.depth);
        std::vector<std::string> ours;
        for (int i = 0; i < s.depth && symbols; ++i) {
            std::string text = symbols[i];
            size_t open = text.find('('), plus = text.find('+', open);
            if (open == std::string::npos || plus == std::string::npos)
                continue;
            std::string mangled = text.substr(open + 1, plus - open - 1);
            int status = 0;
            char* name = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
            std::string demangled = status == 0 && name ? name : mangled;
            std::free(name);
            if (demangled.rfind("vela::", 0) == 0 && demangled.find("StallSampler") == std::string::npos &&
                demangled.find("fb::Status") == std::string::npos)
                ours.push_back(demangled);
        }
        std::free(symbols);
        if (ours.empty())
            return "outside the program's code";
        std::string out = ours.front();
        for (size_t i = 1; i < ours.size(); ++i)
            if (ours[i].find("TableCopier::") != std::string::npos || ours[i].find("sincroniza") != std::string::npos ||
                ours[i].find("TfrmPrincipal::") != std::string::npos) {
                if (ours[i] != out)
                    out += " in " + ours[i];
                break;
            }
        return out;
    }

private:
    static constexpr int kSignal = SIGURG;
    static constexpr size_t kMaxSamples = 4000;

    void watch() {
        Clock::time_point lastSample{};
        while (!stop_ && taken_ < kMaxSamples) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            auto now = Clock::now();
            Clock::time_point painted{Clock::duration(paints_.last.load())};
            if (paints_.last.load() == 0 || now - painted < std::chrono::milliseconds(100) ||
                now - lastSample < std::chrono::milliseconds(50))
                continue;
            Sample& s = samples_[taken_];
            s.at = now;
            current_ = &s;
            pthread_kill(target_, kSignal);
            for (int i = 0; i < 200 && current_.load(); ++i)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (current_.exchange(nullptr))
                continue; // not answered: no sample
            ++taken_;
            lastSample = now;
        }
    }

    PaintClock& paints_;
    pthread_t target_;
    struct sigaction previous_ {};
    std::vector<Sample> samples_;
    size_t taken_ = 0;
    std::atomic<bool> stop_{false};
    std::thread watcher_;
    static inline std::atomic<Sample*> current_{nullptr};
};

// The start of a table copy in the run (its header line was logged).
struct CopyMark {
    const CopyEntry* copy;
    Clock::time_point at;
};

// Reports the stretches of the run from t0 to t1 without a repaint: the longest, the table copy it
// fell in and how far into that copy it began, how many exceeded 100 ms, and each over 250 ms with
// the calls the thread was found in.
void reportRepaintGaps(Report& rep, const PaintClock& paints, const StallSampler& sampler,
                       const std::vector<CopyMark>& marks, Clock::time_point t0, Clock::time_point t1);

} // namespace vela::bench
