// One call of each family, made the way that makes the library allocate where it can, with its
// result classified: for the allocation-failure table and the load/unload cycles.
#pragma once

#include <windows.h>

#include <vector>

#include "jni_host.h"
#include "library.h"

enum class Outcome { succeeded, failed, wrong };

struct FamilyCall {
    const char* name;
    Outcome (*call)(const jnitest::Library&, jnitest::JniHost&);
};

extern const std::vector<FamilyCall> familyCalls;

// The long environment value and the registry key the calls read, for the holder's lifetime.
class FamilyData {
public:
    FamilyData();
    ~FamilyData();
    FamilyData(const FamilyData&) = delete;
    FamilyData& operator=(const FamilyData&) = delete;
};
