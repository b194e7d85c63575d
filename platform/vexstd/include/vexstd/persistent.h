// Persistent objects: what an archive can store and load, the per-pass visit
// marks that keep an object from being written twice, change tracking, and
// the registry that makes polymorphic loading possible.
#pragma once

#include <string>
#include <typeinfo>
#include <vector>

#include "vexstd/export.h"

class vcArchive;

class VEXSTD_API vcPersistent {
 public:
  virtual ~vcPersistent();

  // Visit marks of the innermost live archive on the calling thread (one
  // archive object is one archive pass). `size` is the byte size of the class
  // whose part of the object is being handled, so that the parts of one object
  // are marked separately. Without a live archive nothing is ever visited.
  static bool haveVisited(const void* object, unsigned size);
  static void setVisited(const void* object, unsigned size);

  // Change tracking: while on, every change an object announces (mutating())
  // is counted. Off by default; copies start with tracking off.
  void changeTracking(bool on) { tracking_ = on; }
  bool changeTracking() const { return tracking_; }
  unsigned long changeCount() const { return changes_; }

 protected:
  vcPersistent() = default;
  // Tracking belongs to an object, not to its value: copies start afresh.
  vcPersistent(const vcPersistent&) {}
  vcPersistent& operator=(const vcPersistent&) { return *this; }

  // The platform's part of every persistent object: a version byte (0).
  virtual void dispatchSerialize(vcArchive& ar);
  // Called on an object made by a registered factory before it is loaded.
  virtual void reInit();
  // Loads an object made by a registered factory: dispatchSerialize.
  virtual void loadSimple(vcArchive& ar);

  // The change notification: objects call it before they change their state.
  void mutating() {
    if (tracking_) mutating_();
  }

 private:
  void mutating_();

  bool tracking_ = false;
  unsigned long changes_ = 0;

  friend class vcArchive;
};

// A base for shared representations; it only gives them a virtual destructor.
class VEXSTD_API vcRepBase {
 public:
  vcRepBase() = default;
  vcRepBase(const vcRepBase&) = default;
  vcRepBase& operator=(const vcRepBase&) = default;
  virtual ~vcRepBase();
};

// Registers a persistent class for polymorphic loading. A class defines one
// static instance, built from its type identity and its factory. The class is
// known by its qualified C++ name, which is also what an archive records.
class VEXSTD_API vc_Instantiator {
 public:
  using Factory = vcPersistent* (*)();

  vc_Instantiator(const std::type_info& type, Factory make);
  ~vc_Instantiator();
  vc_Instantiator(const vc_Instantiator&) = delete;
  vc_Instantiator& operator=(const vc_Instantiator&) = delete;

  static bool isRegistered(const std::type_info& type);
  // Qualified names of the registered classes, in registration order.
  static std::vector<std::string> registeredNames();
  // The qualified (demangled) name of a type, as the registry records it.
  static std::string nameOf(const std::type_info& type);
  // A new object of the class registered under `name`, or null.
  static vcPersistent* make(const std::string& name);

 private:
  const std::type_info* type_;
  bool registered_ = false;
};
