// Time of a card measurement against kavanti-cardsim (no reply delay), beside the time the
// same bytes would take on the card's 115200 bit/s line (10 bits per byte).
//   build/bench/bin/bench_card_measure
#include "app/card/CModemInfo.h"
#include "app/card/CSerialPort.h"
#include "platform/shell/KPeriodical.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The simulator's default answers; the byte count below follows its reply layout.
const std::string kModel = "KV-PHS100", kNumber = "07012345678", kFirmware = "1.00", kChannel = "3",
                  kLevels = "3333444455555";

size_t InfoReply(const std::string& command, const std::string& text)
{
    return command.size() + 1 /* echo CR */ + 2 + text.size() + 2 + 6 /* CR LF OK CR LF */;
}

// Bytes on the line for one measurement: commands with their CR, and the replies (the echo
// is off for "ATE1" itself).
size_t MeasurementBytes()
{
    size_t sent = 0;
    for (const char* c : {"ATE1", "ATI4", "ATI6", "ATI5", "AT@@LNK", "AT@@LVL"}) sent += std::strlen(c) + 1;
    const size_t received = 6 + InfoReply("ATI4", kModel) + InfoReply("ATI6", kNumber) +
                            InfoReply("ATI5", kFirmware) + InfoReply("AT@@LNK", kChannel) +
                            InfoReply("AT@@LVL", std::to_string(kLevels.size()) + "\r\n" + kLevels);
    return sent + received;
}

double LineSecondsPerExchange()
{
    return double(MeasurementBytes()) * 10.0 / 115200.0 / 6.0;
}

struct Sim {
    pid_t pid = -1;
    std::string slave;
    Sim()
    {
        int out[2];
        if (pipe(out) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            execl(KAVANTI_STAGE_BIN "/kavanti-cardsim", "kavanti-cardsim", "--delay", "0", (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') slave += c;
        close(out[0]);
    }
    ~Sim()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

Sim& TheSim()
{
    static Sim sim;
    return sim;
}

struct Host : CModemInfoHost {
    bool done = false;
    bool CardPortName(char* dest, size_t size) override { return CopyCString(dest, size, TheSim().slave); }
    void MeasurementDone(ModemInformation*) override { done = true; }
};

void Report(benchmark::State& state, double exchangesPerIteration)
{
    state.counters["per_exchange_us"] = benchmark::Counter(
        double(state.iterations()) * exchangesPerIteration, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["line_per_exchange_us"] = LineSecondsPerExchange() * 1e6;
    state.counters["line_bytes_per_measurement"] = double(MeasurementBytes());
}

// The whole measurement in-process: open, six exchanges on six idle passes, close.
void BM_MeasurementInProcess(benchmark::State& state)
{
    Host host;
    for (auto _ : state) {
        host.done = false;
        CModemInfo::GetInformation(&host);
        while (!host.done) KPeriodical::DevoteTimeToIdlers();
    }
    if (CModemInfo::Record().modemName.View() != kModel) state.SkipWithError("the card did not answer");
    Report(state, 6);
}

// One exchange on a port already open (no open and close in the figure).
void BM_ExchangeOnOpenPort(benchmark::State& state)
{
    int32_t err = 0;
    CSerialPort port(TheSim().slave.c_str(), &err);
    if (err) {
        state.SkipWithError("cannot open the simulator's port");
        return;
    }
    char reply[256];
    for (auto _ : state) {
        if (!port.SendPort("ATI4\r") || !port.RecvPort(reply, sizeof reply, 300)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.counters["per_exchange_us"] = benchmark::Counter(double(state.iterations()),
                                                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["line_per_exchange_us"] = double(5 + InfoReply("ATI4", kModel)) * 10.0 / 115200.0 * 1e6;
}

// kavanti-ctl card-info as a user runs it: process start, Qt Core, measurement, output.
void BM_CtlCardInfo(benchmark::State& state)
{
    const std::string port = TheSim().slave;
    for (auto _ : state) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            execl(KAVANTI_STAGE_BIN "/kavanti-ctl", "kavanti-ctl", "card-info", "--port", port.c_str(),
                  (char*)nullptr);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("kavanti-ctl card-info failed");
            break;
        }
    }
    Report(state, 6);
}

} // namespace

BENCHMARK(BM_ExchangeOnOpenPort)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_MeasurementInProcess)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CtlCardInfo)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
