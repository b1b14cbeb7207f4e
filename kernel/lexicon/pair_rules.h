// Rule lists of text pairs shared by the input-scheme configurations (fuzzy
// sounds, spelling corrections, shuangpin schemes): nodes, matching modes and
// the bridge to ini sections. No locks: each list belongs to one owner.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/runtime/file_config.h"

// One rule: two texts and the next node. A list is a pointer to its first
// node (null = empty); new nodes go to the front.
struct t_pairRule {
    std::wstring first;
    std::wstring second;
    t_pairRule* next = nullptr;
};
using t_pairList = t_pairRule*;

// Partner and variant slots handed to the key-map builder: 7 characters and
// a terminator. Longer texts never go into a slot.
inline constexpr size_t kRuleSlotChars = 8;
using t_ruleSlot = wchar_t[kRuleSlotChars];

// Matching modes of the list operations.
enum : int { kPairMatchOneWay = 0, kPairMatchTwoWay = 1 };

// True when both texts are equal, 'A'-'Z' matching 'a'-'z'. Null equals only
// null or an empty text.
bool WideEqualsNoCase(const wchar_t* a, const wchar_t* b);
// Length of text up to limit + 1 characters (null counts as 0).
size_t WideLengthBounded(const wchar_t* text, size_t limit);

// New node with texts a and b (null = empty), not linked.
t_pairRule* PairRuleConstruct(const wchar_t* a, const wchar_t* b);
// Empties both texts and unlinks the node.
void PairRuleInit(t_pairRule* rule);
// Empties both texts (the node itself is freed by the list operations).
void PairRuleDestroy(t_pairRule* rule);
void PairRuleSetFirst(t_pairRule* rule, const wchar_t* text);
void PairRuleSetSecond(t_pairRule* rule, const wchar_t* text);

// One-way, exact: a, when given, must equal the first text; b, when given,
// the second.
// Both null: no match.
bool PairRuleMatches(const t_pairRule* rule, const wchar_t* a, const wchar_t* b);
// Mode kPairMatchTwoWay: (a, b) in either order, or either text equal to a
// (or to the one given text when only one is given). Other modes: one-way.
bool PairRuleMatchesMode(const t_pairRule* rule, const wchar_t* a, const wchar_t* b, int mode);

// The link (the list head or a node's next field) pointing at the first
// matching node, or null.
t_pairRule** PairListFind(const wchar_t* a, const wchar_t* b, t_pairList* list, int mode);
// Unlinks and frees the first matching node: 1, or 0 when none matched.
int PairListRemove(const wchar_t* a, const wchar_t* b, t_pairList* list, int mode);
// A matching node takes the texts a and b; otherwise (a, b) is pushed at the
// front. Always 1.
int PairListSet(const wchar_t* a, const wchar_t* b, t_pairList* list, int mode);
// For every node whose first text equals text (ignoring case) its second text,
// or whose second text equals it, its first, goes into the next slot; at most
// max results. A partner that does not fit a slot is skipped. 0 for a null or
// empty text, null slots or max <= 0.
int PairListCollectPartners(t_ruleSlot* slots, int max, const wchar_t* text, t_pairList list);
// Frees every node; the list becomes empty.
void PairListFree(t_pairList* list);
// Number of nodes.
size_t PairListCount(t_pairList list);

// One line onto messages about a scheme file, naming it: "<path>: <problem>,
// <consequence>; <undecodable>\n", where problem is what kept the file from
// being taken (empty when it was), consequence what follows from that (may
// be null), and undecodable the loaded file's bytes that are no text
// (ini.UndecodableNote()). Nothing when there is neither problem nor such
// bytes.
void NoteSchemeFile(std::wstring& messages, const wchar_t* path, const std::wstring& problem,
                    const wchar_t* consequence, const t_fileConfig& ini);

// PairListSet (key, value, mode 0) for every line of the section in key order,
// so two lines with one key and different values give two rules.
void PairListFillFromSection(const t_fileConfig::t_section& section, t_pairList* list);
// Adds one line (section, first, separator, second) per node, also for rules
// that share a first text. Nodes are written from the back of the list, so a
// file that is loaded and saved again keeps its lines in the same order.
// False when the ini object refuses a line (the lines before it stay).
bool PairListWriteToSection(t_pairList list, const wchar_t* section, t_fileConfig& ini,
                            const wchar_t* separator);
