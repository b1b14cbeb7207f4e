// UserEnv: every user's settings kept as a shared copy (the binary image of a
// store in a renewable block built from the user's env.ini), read, written
// and merged by callers' private stores; stamps skip reads when nothing
// changed. One process-wide instance; main thread only.
#pragma once

#include <cstdint>

#include "porting3/block_heap.h"
#include "porting3/named_objects.h"
#include "userenv/env_store.h"
#include "userenv/renewable_memory.h"

namespace n_userenv {

class UserManager;

// The user's directory joined with "env.ini"; "env.ini" alone when the
// manager has no directory for the id.
void GetEnvFilePath(n_porting::t_path* out, uint32_t id, const UserManager* manager = nullptr);

class UserEnv {
public:
    class t_envContainer;

    static UserEnv& GetInstance();
    // `manager` locates the users' folders (the process's manager when null).
    explicit UserEnv(const UserManager* manager = nullptr);
    ~UserEnv();
    UserEnv(const UserEnv&) = delete;
    UserEnv& operator=(const UserEnv&) = delete;

    // The first call creates the locks; later calls return 1 at once.
    bool Init(t_errorContext& ctx);
    bool IsInit() const { return m_inited; }

    bool GetEnv(t_errorContext& ctx, t_env& store, uint32_t id);
    bool CopyFrom(t_errorContext& ctx, uint32_t id, const t_env& store);
    bool MergeFrom(t_errorContext& ctx, uint32_t id, t_env& store, bool bumpGroups);
    // Merges, then writes env.ini through the safe save: 0 when the save
    // fails, the old file whole.
    bool MergeSave(t_errorContext& ctx, uint32_t id, t_env& store, bool bumpGroups);
    // Merges the store's changes and reads the shared copy back; skipped when
    // the store is unchanged and already holds the block's stamp.
    bool MergeGet(t_errorContext& ctx, uint32_t id, t_env& store, bool bumpGroups);
    bool SaveCurrent(t_errorContext& ctx, uint32_t id);
    // The user's shared copy (made on first use); null when memory runs out.
    t_envContainer* Container(uint32_t id);

private:
    const UserManager* m_manager;
    // Containers live until the keeper goes (process exit for the instance).
    n_porting::t_poolHashMap<uint32_t, t_envContainer*, n_porting::t_idKeyPolicy> m_containers;
    n_porting::t_mutex m_mutex;
    n_porting::t_criticalSection m_section;
    bool m_inited = false;
};

class UserEnv::t_envContainer {
public:
    t_envContainer(uint32_t id, const UserManager* manager);
    bool GetEnv(t_errorContext& ctx, t_env& store);
    bool CopyFrom(t_errorContext& ctx, const t_env& store);
    bool MergeFrom(t_errorContext& ctx, t_env& store, bool bumpGroups);
    bool MergeSave(t_errorContext& ctx, t_env& store, const char16_t* path, bool bumpGroups);
    bool MergeEnv(t_errorContext& ctx, t_env& store, bool bumpGroups);
    t_renewableMemory& Memory() { return m_memory; }

private:
    class t_loader : public i_renewable {
    public:
        t_loader(uint32_t id, const UserManager* manager) : m_id(id), m_manager(manager) {}
        bool LoadImage(t_errorContext& ctx, uint8_t** data, uint32_t* size) override;
        bool Prepare(t_errorContext& ctx) override;
        bool NeedsGrowth(const uint8_t*, uint32_t) override { return false; }
        bool MoveData(const uint8_t* from, uint32_t fromSize, uint8_t* to,
                      uint32_t toSize) override;

    private:
        uint32_t m_id;
        const UserManager* m_manager;
        n_porting::t_path m_path;
    };
    bool ReadShared(t_errorContext& ctx, t_env& store);
    bool WriteShared(t_errorContext& ctx, const t_env& store);
    bool MergeIntoShared(t_errorContext& ctx, t_env& merged, t_env& store, bool bumpGroups);

    uint32_t m_id;
    t_loader m_loader;
    t_renewableMemory m_memory;
};

// The process's UserEnv::MergeGet with group bumps.
bool MergeGetUserEnv(t_errorContext& ctx, t_env& store, const uint32_t* id);

}  // namespace n_userenv
