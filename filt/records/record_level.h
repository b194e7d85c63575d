// One level of an object's archive record, as every persistent class of the
// library writes it: the level's version byte, then the level's items, once
// per archive pass for the part of the object `size` bytes long (the
// platform's visit marks). Not installed.
#pragma once

#include "vexstd/archive.h"
#include "vexstd/persistent.h"

// `items(version)` checks the version byte and exchanges the level's items.
template <class Items>
void vf_RecordLevel(vcArchive& ar, const void* object, unsigned size, Items items) {
  if (vcPersistent::haveVisited(object, size)) return;
  unsigned char version = 0;
  ar || version;
  items(version);
  vcPersistent::setVisited(object, size);
}
