// Characters no key of the layout types, typed on X through spare key codes
// (codes the keymap leaves without keysyms) bound to the character. A client
// reads a code's keysyms when it handles the event, from the keymap it has
// been told of by then: a code is bound before its first press and the
// client given time to learn of it, and a binding stays until every client
// we type for has handled the last press of it; every binding is undone when
// the output closes.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/linux/keys/key_layout_private.h"
#include "platform/linux/keys/key_record_private.h"

struct _XDisplay;

namespace platform::linuxkeys {

class SpareKeys {
  public:
    // Forgets the codes and their bindings without undoing them (a new
    // keymap replaced them); the next Bind chooses codes again.
    void Forget() {
        count_ = 0, chosen_ = false;
        if (record_ != nullptr) record_->Unbound();
    }
    // Where each binding is written before it is made.
    void SetRecord(KeyRecord* record) { record_ = record; }
    // Binds the characters of a line that no code holds yet, as many as there
    // are codes, then waits until clients can have the new bindings. False
    // when a wait was cancelled.
    bool Prepare(_XDisplay* display, const char32_t* characters, int count);
    // The code bound to `character` (bound before, or now, with the same
    // wait), and whether Shift must be held to type it (a capital letter is
    // the second level of its lower/upper pair). kNoKey when no code is
    // spare or the binding fails; `cancelled` when a wait was cut short.
    KeyCode Bind(_XDisplay* display, char32_t character, bool& shift, bool& cancelled);
    // Every key event we send, whatever its key, and the release of a spare
    // code: what a slow client still has to handle before a code is free.
    void EventSent();
    void Pressed(KeyCode code);
    void Released(KeyCode code);
    // Cuts the waits for free codes short (a quit); safe from any thread.
    void CancelWaits(bool cancel) { cancel_.store(cancel); }
    // Unbinds every code still bound as we left it.
    void Restore(_XDisplay* display);
    // Whether every key code from `first` on for `count` is one of ours (a
    // keymap change of ours, not the user's).
    bool AllOurs(int first, int count) const;

  private:
    static constexpr int kMaxCodes = 16;
    struct Slot {
        KeyCode code;
        std::uint32_t lower;  // the keysyms bound, 0 while unbound
        std::uint32_t upper;
        // When the slowest client we type for has handled the last event of
        // this code (CLOCK_MONOTONIC); a code held down or bound for the line
        // being typed is not free at all.
        std::int64_t freeAtNs;
        // Bound for the line being typed and not pressed since.
        bool wanted;
        // The binding's request, until the server has answered it.
        unsigned long request;
    };
    void Choose(_XDisplay* display);
    Slot* Find(std::uint32_t lower, std::uint32_t upper);
    // Binds a free slot (the one free soonest, after waiting for it); null
    // when cancelled.
    Slot* BindFree(_XDisplay* display, std::uint32_t lower, std::uint32_t upper);
    // Waits until the server has taken the bindings just made (those it
    // refused are dropped), then for clients to read them.
    void Settle(_XDisplay* display);

    Slot slots_[kMaxCodes] = {};
    int count_ = 0;
    bool chosen_ = false;
    // The time by which the slowest client we type for has handled every
    // event sent so far.
    std::int64_t clientDoneNs_ = 0;
    // The same for a client that keeps up.
    std::int64_t keptUpNs_ = 0;
    std::atomic<bool> cancel_{false};
    KeyRecord* record_ = nullptr;
};

}  // namespace platform::linuxkeys
