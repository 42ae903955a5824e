// Device link across processes: a real CIoManager for adapter 0, fed by the adapter
// stand-in (OrvinAdapterSim.exe) through its `burst` command, which numbers the events
// (Info = 0, 1, 2 ...) and writes the performance counter just before each write into
// Buffer1. The counter is one clock for every process of the machine (under Wine, the
// host's monotonic clock), so the owner callback measures the whole way: pipe, PipeThread,
// bridge, bus queue and delivery.
//   bench_ioman latency N    N spaced events: median, 99th percentile, min, max of the
//                            stand-in's write -> owner callback
//   bench_ioman burst N      N events at once: all delivered, in order, and how long from
//                            the first write to the last delivery
//   bench_ioman idle S       connected and idle for S seconds: CPU used by this process
//   bench_ioman reverse N    N requests the other way, 37 ms apart: PT_EVENT
//                            PT_SEND_GET_RING_STATE, Info = 0, 1, 2 ..., Buffer1 = the
//                            counter just before SendEvent; the stand-in's `measure`
//                            command takes the figures at its read
// Besides its sentences it prints one `figure NAME VALUE` line per figure, for scripts.
// At the end it sends NotifyAgentStatus 3 (closing), for the stand-in's script to wait on.
// Exit status 0 when the events came complete and in order, 1 otherwise.
#include "devicelink/IoManager.h"
#include "devicelink/MessageCatalogue.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kConnectTimeoutMs = 20000;

struct Arrival {
    int32_t info;
    long long sentAt;
    long long deliveredAt;
};

std::vector<Arrival> g_arrivals;
std::atomic<long> g_count{0};
double g_ticksPerMs = 1;

long long Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// On the bus's delivery thread; the vector is sized beforehand, so this only stores.
void OnEvent(const IMM* message, uint32_t, void*) {
    long long deliveredAt = Now();
    long index = g_count.load();
    if (index >= (long)g_arrivals.size()) {
        return;
    }
    g_arrivals[index] = {message->Info, atoll(message->Buffer1), deliveredAt};
    g_count.store(index + 1);
}

double Ms(long long ticks) {
    return (double)ticks / g_ticksPerMs;
}

bool WaitConnected(CIoManager& manager) {
    for (DWORD waited = 0; waited < kConnectTimeoutMs; waited += 10) {
        if (manager.Phase() == 3) {
            return true;
        }
        Sleep(10);
    }
    fprintf(stderr, "bench_ioman: not connected within %lu ms\n", kConnectTimeoutMs);
    return false;
}

// Waits until `count` events came, or no new one for `quietMs`.
void WaitEvents(long count, DWORD quietMs) {
    long seen = 0;
    DWORD quiet = 0;
    while (g_count.load() < count && quiet < quietMs) {
        Sleep(10);
        long now = g_count.load();
        quiet = now == seen ? quiet + 10 : 0;
        seen = now;
    }
}

// Every event once, numbered 0 to count-1 in arrival order.
bool InOrder(long count) {
    if (g_count.load() != count) {
        printf("  delivered: %ld of %ld\n", g_count.load(), count);
        return false;
    }
    for (long i = 0; i < count; ++i) {
        if (g_arrivals[i].info != i) {
            printf("  out of order: arrival %ld carries event %d\n", i, g_arrivals[i].info);
            return false;
        }
    }
    return true;
}

int Latency(long count) {
    std::vector<double> latencies;
    for (long i = 0; i < g_count.load(); ++i) {
        latencies.push_back(Ms(g_arrivals[i].deliveredAt - g_arrivals[i].sentAt));
    }
    bool ok = InOrder(count);
    if (latencies.empty()) {
        printf("latency: no event arrived\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double fraction) {
        size_t index = (size_t)(fraction * (double)(latencies.size() - 1) + 0.5);
        return latencies[std::min(index, latencies.size() - 1)];
    };
    double sum = 0;
    for (double value : latencies) {
        sum += value;
    }
    printf("latency: %zu events, median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms, mean %.2f ms%s\n",
           latencies.size(), at(0.5), at(0.99), latencies.front(), latencies.back(), sum / latencies.size(),
           ok ? "" : " (INCOMPLETE)");
    printf("figure event_latency_median_ms %.3f\n", at(0.5));
    printf("figure event_latency_p99_ms %.3f\n", at(0.99));
    printf("figure event_latency_complete %d\n", ok ? 1 : 0);
    return ok ? 0 : 1;
}

int Burst(long count) {
    bool ok = InOrder(count);
    long got = g_count.load();
    if (!got) {
        printf("burst: no event arrived\n");
        return 1;
    }
    double total = Ms(g_arrivals[got - 1].deliveredAt - g_arrivals[0].sentAt);
    double writing = Ms(g_arrivals[got - 1].sentAt - g_arrivals[0].sentAt);
    double after = Ms(g_arrivals[got - 1].deliveredAt - g_arrivals[got - 1].sentAt);
    printf("burst: %ld of %ld events delivered %s; first write to last delivery %.0f ms (%.0f events/s); "
           "the stand-in's writes took %.0f ms; the last was delivered %.1f ms after its write\n",
           got, count, ok ? "in order" : "NOT complete and in order", total, got / (total / 1000.0), writing,
           after);
    printf("figure burst_last_delivery_after_last_write_ms %.3f\n", after);
    printf("figure burst_events_per_s %.0f\n", got / (total / 1000.0));
    printf("figure burst_in_order %d\n", ok ? 1 : 0);
    return ok ? 0 : 1;
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME time) {
        return (double)(((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

int Idle(CIoManager& manager, long seconds) {
    Sleep(1000); // past the connection's first steps
    double cpuBefore = CpuSeconds();
    long long before = Now();
    printf("idle: measuring for %ld s\n", seconds);
    fflush(stdout);
    Sleep((DWORD)seconds * 1000);
    double cpu = CpuSeconds() - cpuBefore;
    double wall = Ms(Now() - before) / 1000.0;
    bool connected = manager.Phase() == 3;
    printf("idle: %.3f s CPU in %.1f s = %.2f%% of one core (GetProcessTimes)%s\n", cpu, wall,
           100.0 * cpu / wall, connected ? ", still connected" : ", NOT CONNECTED");
    printf("figure idle_cpu_percent %.3f\n", 100.0 * cpu / wall);
    return connected ? 0 : 1;
}

// The requests for the stand-in's `measure`: it checks their order and takes the figures.
int Reverse(CIoManager& manager, long count) {
    Sleep(500); // the stand-in's script has reached its measure command
    for (long i = 0; i < count; ++i) {
        IMM request = {};
        request.Type = MSG_TYPE_PT_EVENT;
        request.Code = PT_SEND_GET_RING_STATE;
        request.Info = (int32_t)i;
        snprintf(request.Buffer1, sizeof request.Buffer1, "%lld", Now());
        manager.SendEvent(0, 1, &request);
        Sleep(37);
    }
    printf("reverse: %ld requests sent\n", count);
    return manager.Phase() == 3 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bench_ioman latency N | burst N | idle SECONDS | reverse N\n");
        return 2;
    }
    std::string mode = argv[1];
    long n = atol(argv[2]);
    if (n <= 0 || (mode != "latency" && mode != "burst" && mode != "idle" && mode != "reverse")) {
        fprintf(stderr, "usage: bench_ioman latency N | burst N | idle SECONDS | reverse N\n");
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerMs = (double)frequency.QuadPart / 1000.0;
    g_arrivals.resize(mode == "idle" || mode == "reverse" ? 0 : n + 16);

    CIoManager manager;
    if (!manager.Open(OnEvent, 0, nullptr) || !WaitConnected(manager)) {
        return 1;
    }
    printf("connected\n");
    fflush(stdout);
    int status;
    if (mode == "idle") {
        status = Idle(manager, n);
    } else if (mode == "reverse") {
        status = Reverse(manager, n);
    } else {
        WaitEvents(n, 10000);
        status = mode == "latency" ? Latency(n) : Burst(n);
    }
    // Tell the stand-in we are done, and give the request time to leave.
    IMM closing = {};
    closing.Type = MSG_TYPE_AGENT_EVENT;
    closing.Code = NotifyAgentStatus;
    closing.Info = AgentStatusClosing;
    manager.SendEvent(0, 1, &closing);
    Sleep(500);
    manager.Close();
    return status;
}
