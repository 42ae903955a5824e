// Bus throughput: messages posted by one thread and delivered by the polling thread, with
// one subscriber and with four (fan-out shares one record). Prints the median of 5 runs.
//   bench_bus [messages per run]
#include "devicelink/iBus.h"
#include "devicelink/WorkerThread.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Counter {
    volatile LONG delivered;
};

void Count(iBusMessageRecord*, void* data) {
    InterlockedIncrement(&static_cast<Counter*>(data)->delivered);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// Messages per second, from the first post to the last delivery.
double Run(int subscribers, long messages, uint32_t pollMs) {
    iBusImplementation impl{};
    iBusPollingImplementationCreate(&impl, pollMs);
    iBus* bus = iBusCreate(&impl);
    std::vector<Counter> counters(subscribers);
    std::vector<iBusClient*> clients;
    const uint32_t ids[] = {1};
    for (auto& counter : counters) {
        counter.delivered = 0;
        iBusClientDescription description = {&counter, Count};
        clients.push_back(iBusRegisterClient(bus, &description, ids, 1));
    }
    iBusStart(bus);
    const char data[16] = "0123456789abcde";
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < messages; ++i) {
        const uint32_t params[1] = {(uint32_t)i};
        iBusSendMessage(bus, 1, 3, params, 1, data, sizeof data, nullptr);
    }
    while (counters.back().delivered < messages) {
        Sleep(0);
    }
    QueryPerformanceCounter(&end);
    impl.Stop(impl.context);
    for (iBusClient* client : clients) {
        iBusUnregisterClient(bus, client);
    }
    iBusDestroy(bus);
    iBusPollingImplementationDestroy(&impl);
    if (iBusGetLiveMessageCount() != 0) {
        fprintf(stderr, "leak: %ld records alive\n", iBusGetLiveMessageCount());
        exit(1);
    }
    return messages / Seconds(start, end);
}

} // namespace

int main(int argc, char** argv) {
    const long messages = argc > 1 ? atol(argv[1]) : 1000000;
    printf("bus: %ld messages per run, 16 data bytes each, median of 5 runs\n", messages);
    for (uint32_t pollMs : {100u, 20u}) {
        for (int subscribers : {1, 4}) {
            std::vector<double> rates;
            for (int run = 0; run < 5; ++run) {
                rates.push_back(Run(subscribers, messages, pollMs));
            }
            std::sort(rates.begin(), rates.end());
            printf("poll %3u ms, %d subscriber%s: %10.0f messages/s delivered (min %.0f, max %.0f)\n", pollMs,
                   subscribers, subscribers > 1 ? "s" : " ", rates[2], rates[0], rates[4]);
        }
    }
    return 0;
}
