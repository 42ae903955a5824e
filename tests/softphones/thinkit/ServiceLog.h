// The main dialog as the unit tests of the ThinkIt and Tessaro clients see it: what the
// client tells the service, read from the traffic lines it logs for it ("[AG-->SM]": the
// event's name, info and first buffer), and whether the status icon was asked to blink.
#pragma once

#include "devicelink/Imm.h"
#include "softphone/AgentLinks.h"

#include <string>
#include <vector>

class ServiceLog : public IOrvinAgentDialog {
public:
    void SetApiClient(COrvinApiClient*) override {}
    void SetMessageEngine(CMessageEngine*) override {}
    void SetRegistryRoot(const std::string&) override {}
    void RefreshStatus() override {}
    void AddTrafficLine(const char* text, int direction) override {
        if (direction == 4) {
            events.push_back(text);
        }
    }
    void RingIndicationOn() override { ++ringsOn; }
    void RingIndicationOff() override {}
    void BusyIndication() override {}
    bool IsCallRecording() override { return false; }
    void StopCallRecording() override {}

    // The events since the last look.
    std::vector<std::string> Take() {
        std::vector<std::string> taken;
        taken.swap(events);
        return taken;
    }

    std::vector<std::string> events;
    int ringsOn = 0;
};

// An adapter event as the service sends it.
inline IMM ServiceEvent(int type, int code, int info) {
    IMM message = {};
    message.Type = type;
    message.Code = code;
    message.Info = info;
    return message;
}
