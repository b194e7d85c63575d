// The float array record: version byte 0, unsigned long count, count floats.
// Shared by the frequency buffer and the coefficient filters.
#pragma once

#include <cstddef>
#include <vector>

#include "vexstd/archive.h"

// Stores `count` floats from `values` as a float array record.
void vf_StoreFloatArray(vcArchive& ar, const float* values, unsigned long count);

// Reads the head of a float array record (its version byte and count) and
// returns the count. A non-zero version throws vcArchive::UnknownVersion with
// no text and 0; a count larger than the bytes left throws EndOfData, so the
// caller may allocate for the count once this returns.
unsigned long vf_LoadFloatArrayHead(vcArchive& ar);

// Loads a whole float array record into `values` (resized to the count, new
// elements 0).
void vf_LoadFloatArray(vcArchive& ar, std::vector<float>& values);

// Aligned float arrays held in a std::vector: the array starts at the first
// 16-byte boundary of the vector's storage, which a vector of floats (4-byte
// aligned) reaches within kFloatAlignmentSlack floats; so the vector holds
// that many floats beyond the array. No loop reads past its array's end.
inline constexpr std::size_t kFloatAlignmentSlack = 3;
float* vf_FirstAligned(std::vector<float>& storage);

// Loads the `count` floats a record head announced into a fresh aligned array
// of n >= count floats (the rest 0) held by `storage`; returns its start.
float* vf_LoadAlignedFloats(vcArchive& ar, std::vector<float>& storage, std::size_t n, unsigned long count);
