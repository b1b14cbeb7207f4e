// The boundary between the front end and the conversion engine: the engine
// object and its reference-counted result objects. Text crosses it as
// NUL-terminated UTF-8. Every object is used from one thread (the front end's
// main thread); reference counts are plain integers.
#pragma once

#include <cstdint>

namespace n_cloud {
class IVetraCoreCloudHelper;  // src/cloud/cloud_reply.h
}

// Reference counting of every engine object. An object is born with the
// count 1, owned by whoever created or received it; Release destroys it at 0
// (and releases what it holds). Nothing is ever deleted through a base
// pointer: the destructors are protected, and the slot order is fixed.
class IVetraUnknown {
public:
    virtual int32_t AddRef() = 0;   // the new count
    virtual int32_t Release() = 0;  // the new count; 0: the object is gone

protected:
    ~IVetraUnknown() = default;
};

// One candidate: its text, how much of the typed input it covers, where each
// of its characters ends in that input, and its pinyin ids.
class IVetraCoreResultElement : public IVetraUnknown {
public:
    virtual const char* GetText() const = 0;        // UTF-8
    virtual uint32_t GetLength() const = 0;         // UTF-16 units of the text
    virtual uint32_t GetInputLength() const = 0;    // typed characters covered
    virtual uint32_t GetInputEndCount() const = 0;  // used entries of the input-end table
    // Entry i of the input-end table (the typed characters covered by the
    // text's characters 0..i); -1 when i < 0, i >= length, i >= the count or
    // i >= 64.
    virtual int32_t GetInputEnd(int32_t i) const = 0;
    virtual const char* GetDisplayText() const = 0;  // the display text, else the text
    // Keeps the first n characters; false (nothing changed) when n is not
    // below the character count.
    virtual bool Truncate(uint32_t n) = 0;
    // "[" spelling "'" spelling ... "]" of the pinyin ids ("[]" without
    // pinyin); allocated with malloc, the caller frees it. Null when out of
    // memory.
    virtual char* GetPinyinText() const = 0;

protected:
    ~IVetraCoreResultElement() = default;
};

// Collects the candidates the user selects for one committed word; its
// element slots answer for the merged word (null or 0 while empty).
class IVetraCoreWordBuffer : public IVetraCoreResultElement {
public:
    // Keeps the first n characters of the merged word and of the appended
    // elements, releasing the elements past character n. False when empty or
    // when n is not inside the merged word.
    bool Truncate(uint32_t n) override = 0;
    // Takes its own reference to element (the caller keeps theirs) and merges
    // it into the word. False for null, or when it cannot be stored.
    virtual bool Append(IVetraCoreResultElement* element) = 0;
    virtual void ClearElements() = 0;  // releases everything: empty again
    virtual void RemoveLast() = 0;     // takes the last appended element off the word

protected:
    ~IVetraCoreWordBuffer() = default;
};

// A candidate list. GetElement lends the element (no AddRef): a holder that
// keeps it beyond the list takes its own reference.
class IVetraCoreResult : public IVetraUnknown {
public:
    virtual int32_t GetCount() const = 0;
    virtual IVetraCoreResultElement* GetElement(int32_t i) const = 0;  // null out of range

protected:
    ~IVetraCoreResult() = default;
};

// One custom phrase: the abbreviation typed, the phrase, and the place in the
// candidate list at which it is offered.
class IVetraCoreAbbrElement : public IVetraUnknown {
public:
    virtual const char* GetKey() const = 0;
    virtual uint32_t GetKeyLength() const = 0;  // bytes
    virtual const char* GetPhrase() const = 0;
    virtual uint32_t GetPhraseLength() const = 0;  // bytes
    virtual uint16_t GetPosition() const = 0;
    // Copies both texts (replacing earlier copies) and the position; false
    // when either text is null.
    virtual bool SetStrings(const char* key, const char* phrase, int32_t position) = 0;

protected:
    ~IVetraCoreAbbrElement() = default;
};

class IVetraCoreAbbrResult : public IVetraUnknown {
public:
    virtual int32_t GetCount() const = 0;
    virtual IVetraCoreAbbrElement* GetElement(int32_t i) const = 0;  // lent; null out of range
    // Takes over the caller's reference when it returns true; false (the
    // reference stays with the caller) for null or when it cannot be stored.
    virtual bool Append(IVetraCoreAbbrElement* element) = 0;

protected:
    ~IVetraCoreAbbrResult() = default;
};

// One quick-input entry: three texts and three values.
class IVetraCoreQuickInputElement : public IVetraUnknown {
public:
    virtual const char* GetText1() const = 0;
    virtual const char* GetText2() const = 0;
    virtual const char* GetText3() const = 0;
    virtual int32_t GetValue1() const = 0;  // 16-bit values, sign-extended; -1 unset
    virtual int32_t GetValue2() const = 0;
    virtual int32_t GetValue3() const = 0;

protected:
    ~IVetraCoreQuickInputElement() = default;
};

class IVetraCoreQuickInputResult : public IVetraUnknown {
public:
    virtual int32_t GetCount() const = 0;
    virtual IVetraCoreQuickInputElement* GetElement(
        int32_t i) const = 0;  // lent; null out of range

protected:
    ~IVetraCoreQuickInputResult() = default;
};

// The engine: one process-wide object. Text arguments that do not fit the
// kernel's 1024-character buffers are refused (false or null), never cut.
class IVetraCoreEngine : public IVetraUnknown {
public:
    // 2: the product version and build date the kernel reports.
    virtual bool SetVersion(const char* version, const char* buildDate) = 0;
    // 3: starts the platform runtime and the kernel over the system data
    // directory and the user's configuration directory; false when the
    // dictionaries or the user's settings cannot be set up.
    virtual bool Init(const char* sysDir, const char* usrDir) = 0;
    // 4: the candidates of the typed input, null when there are none. With a
    // request id other than 0xFFFFFFFF the kernel may ask the cloud; whether
    // it did goes to *cloudAsked (when not null).
    virtual IVetraCoreResult* Convert(const char* input, uint32_t requestId, uint8_t* cloudAsked,
                                      uint8_t mode) = 0;
    // 5: learns the committed word; false for null or a text of 1024 bytes
    // or more.
    virtual bool LearnWord(IVetraCoreWordBuffer* buffer) = 0;
    virtual bool SaveDicts() = 0;                          // 6: every dictionary to disk
    virtual IVetraCoreWordBuffer* CreateWordBuffer() = 0;  // 7: a new empty word buffer
    // 8: hands over the cloud helper and starts the cloud worker; false when
    // the worker cannot start or the cloud is off.
    virtual bool InitCloud(n_cloud::IVetraCoreCloudHelper* helper) = 0;
    virtual bool StartKernel() = 0;                       // 9: (re)reads the user's settings
    virtual bool LearnEnglishWord(const char* word) = 0;  // 10
    // 11: an element for text that was not converted: the text itself, its
    // letters as pinyin ids when they fit.
    virtual IVetraCoreResultElement* ConvertChars(const char* text) = 0;
    virtual bool ReloadExtDict() = 0;  // 12

    // 13-23: custom phrases.
    virtual IVetraCoreAbbrResult* GetSysAbbrList() = 0;  // null when there are none
    virtual IVetraCoreAbbrResult* GetUsrAbbrList() = 0;  // null when there are none
    virtual bool AddUsrAbbr(IVetraCoreAbbrElement* element) = 0;
    virtual bool DeleteUsrAbbr(IVetraCoreAbbrElement* element) = 0;
    virtual bool ImportUsrAbbrList(IVetraCoreAbbrResult* list) = 0;  // false for null or empty
    virtual bool NotifyAbbrUsrDictChanged() = 0;
    virtual bool SavePhrases() = 0;
    virtual bool ExportPhrasesFile(const char* path) = 0;
    virtual bool ImportPhrasesFile(const char* path) = 0;
    virtual IVetraCoreAbbrElement* CreateAbbrElement() = 0;
    virtual IVetraCoreAbbrResult* CreateAbbrResult() = 0;

    // 24-36: the user dictionary and its files.
    virtual bool SaveUsrDict() = 0;
    virtual bool NeedFullUsrDictUpload() = 0;
    virtual bool DropEmptyUsrExtDict() = 0;
    virtual bool LoadTempUsrDict(const char* secondListPath, const char* listPath) = 0;
    // At most the first 100 files are handed on; subKinds and kinds pass
    // through unchanged.
    virtual bool MergeUsrExtDictFile(const char* const* files, const uint16_t* subKinds,
                                     const uint16_t* kinds, int32_t count) = 0;
    // The upload files' paths into out1 and out2 (room `size` bytes each):
    // -1 failed, 0 nothing to send, 1 or 2 the paths written.
    virtual int32_t PrepareUsrDictUpload(char* out1, char* out2, uint32_t size) = 0;
    virtual bool CommitUsrDictUpload() = 0;
    virtual bool NotifyUsrDictExtChanged() = 0;
    virtual bool NotifyUsrDictV3Changed() = 0;
    virtual bool ImportUsrDict(const char* path, uint32_t* wordCount) = 0;  // merged in
    virtual bool RestoreUsrDict(const char* path) = 0;                      // replaces
    // The user dictionary saved and copied to path; *wordCount receives the
    // kernel's status (1 copied, 2 no file to copy).
    virtual bool BackupUsrDict(const char* path, uint32_t* wordCount) = 0;
    virtual bool RemoveUsrDict() = 0;
    // 37: quick-input page (0..5) under two filters (65535: any); null when
    // the list is empty.
    virtual IVetraCoreQuickInputResult* QueryQuickInput(uint32_t page, uint32_t filter1,
                                                        uint32_t filter2) = 0;
    // 38: whether the next commit continues the last one in the same place
    // (then two short commits in a row are learned as one word as well, and
    // the last commit raises its usual followers); off ends the run.
    virtual void SetContinuingInput(bool on) = 0;

protected:
    ~IVetraCoreEngine() = default;
};

// The process-wide engine: created on the first call, afterwards the same
// object with its count raised. Null when it cannot be created.
IVetraCoreEngine* CreateVetraCoreEngine();
