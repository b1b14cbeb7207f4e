// What a key stands for beyond the letters, offered beside the engine
// interface: the kernel's punctuation map with the user's width setting, and
// which letters open the kernel's modes. Called under the caller's engine
// lock, from fcitx's main thread.
#pragma once

#include <cstdint>
#include <string>

class IVetraPunctuation {
public:
    // What the map gives an ASCII key (UTF-8): full-width unless the user's
    // settings ask for half-width, quotes paired open and close; empty when
    // the map has nothing for it.
    virtual std::string GetPunctuation(uint32_t key) = 0;
    // Whether a point typed right after a digit stays an ASCII point (3.14).
    virtual bool PointAfterDigitStays() = 0;
    // Whether the kernel reads the keys by a shuangpin scheme: v and u are
    // keys of the input there, and V and U open the number and stroke modes.
    virtual bool ReadsShuangPin() = 0;

protected:
    ~IVetraPunctuation() = default;
};
