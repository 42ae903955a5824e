#include "softphone/skype/SkypeMessageEngine.h"

#include "softphone/skype/SkypeApiClient.h"

namespace {

const TextAttachRow kSkypeAttachRows[] = {
    {0, TextAttachRow::kAttached, "API server connected!\n", false, false},
    {1, TextAttachRow::kTraceOnly, "!!! Pending authorization\n", true, false},
    {2, TextAttachRow::kTraceOnly, "!!! Connection refused\n", true, false},
    {3, TextAttachRow::kDetach, "!!! Skype API not available\n", true, false},
    {0x8001, TextAttachRow::kRediscover, "!!! Try connect now (API available)\n", true, false},
};

const TextEngineProfile kSkypeEngineProfile = {
    "SkypeControlAPIDiscover",
    "SkypeControlAPIAttach",
    "OrvinSkypeMessageEngine",
    "CSkypeMessageEngine",
    "DispatchMessageToSkype",
    "Skype",
    false, // the discover is posted, after its checks
    false,
    kSkypeAttachRows,
    sizeof kSkypeAttachRows / sizeof kSkypeAttachRows[0],
};

} // namespace

CSkypeMessageEngine::CSkypeMessageEngine(CSkypeApiClient* client)
    : CTextMessageEngine(client, kSkypeEngineProfile) {}
