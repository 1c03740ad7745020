#include "app/netconfig/CAuthPrompt.h"

namespace {
CAuthPrompt* gAuthPrompt = nullptr;
}

void RegisterAuthPrompt(CAuthPrompt* prompt) { gAuthPrompt = prompt; }

CAuthPrompt* GetAuthPrompt() { return gAuthPrompt; }
