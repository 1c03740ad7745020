// Numbered commands sent up a chain of commanders (panel -> window -> application).
#pragma once

#include <cstdint>
#include <vector>

class KCommander {
public:
    explicit KCommander(KCommander* super = nullptr);
    // Detaches the subcommanders (they are left without a supercommander, not deleted).
    virtual ~KCommander();
    KCommander(const KCommander&) = delete;
    KCommander& operator=(const KCommander&) = delete;

    void SetSuperCommander(KCommander* super);
    KCommander* GetSuperCommander() const { return mSuper; }

    // Sends a command into the chain starting at this commander; true when someone handled it.
    // Commands are carried out at once, so they happen in the order they are sent.
    bool ProcessCommand(int32_t command, void* param = nullptr);

    // Carries out a command. The default passes it to the supercommander; an override handles
    // its own numbers and calls the base for the rest. True when handled.
    virtual bool ObeyCommand(int32_t command, void* param);

    // Whether a command is available now; the default asks the supercommander (false at the top).
    virtual void FindCommandStatus(int32_t command, bool& enabled);

private:
    KCommander* mSuper = nullptr;
    std::vector<KCommander*> mSubs;
};
