// t_convertDicts: the dictionaries one conversion reads, handed to the
// lattices, the word finder and the word readers by their owner (the
// generator fills it from the kernel's singletons; tests from their own
// images). Plain pointers, not owned; a null or not-ready dictionary is
// simply not consulted. One conversion on one thread.
#pragma once

class t_pyDict;
class t_keyPyMap;
class t_sysDict;
class t_extDict;
class t_usrDictV3Core;
class t_privilegeDictCore;
class t_cloudCacheDict;
class t_usrDictExtCore;
class t_pyTip;
class t_wordReadingTable;

struct t_convertDicts {
    t_pyDict* py = nullptr;
    t_keyPyMap* keyMap = nullptr;
    t_sysDict* sys = nullptr;
    t_extDict* cell = nullptr;
    t_usrDictV3Core* user = nullptr;
    t_privilegeDictCore* privilege = nullptr;
    t_cloudCacheDict* cloudCache = nullptr;
    t_usrDictExtCore* userExt = nullptr;
    t_pyTip* tip = nullptr;
    const t_wordReadingTable* readings = nullptr;
};
