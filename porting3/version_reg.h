// The process-wide table of data versions: writers of shared data bump their
// slot, holders (t_versionReg::t_interface) reload when their stamp is behind.
// Main thread only.
#pragma once

#include <cstdint>

#include "porting3/named_objects.h"

namespace n_porting {

// The slots in use. The accounts and the current user's data must not share
// a slot with the settings (2-5), or a settings merge would reload them.
constexpr int kVersionSlotSettings = 2;
constexpr int kVersionSlotAppearance = 3;
constexpr int kVersionSlotUserPhrases = 4;
constexpr int kVersionSlotPinyinScheme = 5;
constexpr int kVersionSlotAccounts = 6;     // acc.dat
constexpr int kVersionSlotCurrentUser = 7;  // the current user's user.dat

class t_versionReg {
public:
    static constexpr int kSlots = 24;

    class t_locker : public t_mutex::t_locker {};

    // Holders of versioned data: Reload brings the data to `version`.
    class t_interface {
    public:
        explicit t_interface(int slot) : m_slot(slot) {}
        virtual ~t_interface() = default;
        virtual bool Reload(t_errorContext& ctx, uint32_t version, bool force) = 0;

        // Reloads unless the stamp is current; false (stamp unchanged) when
        // the reload fails or the slot has no version.
        bool CheckVersion(t_errorContext& ctx, bool force);
        bool IsLatest() const { return GetVersion(m_slot) == m_stamp; }
        void SyncVersion() { m_stamp = GetVersion(m_slot); }
        uint32_t SetStamp(uint32_t value);
        uint32_t GetStamp() const { return m_stamp; }

    protected:
        int32_t m_slot;
        uint32_t m_stamp = 0;
    };

    // Runs once (later calls return true); every slot starts at 1.
    static bool Init(t_errorContext& ctx);
    // The slot's new value; 0 for a slot outside 0-23 or before Init.
    static uint32_t UpdateVersion(int slot);
    static uint32_t GetVersion(int slot);
    static bool IsVersion(int slot, uint32_t value);
};

}  // namespace n_porting
