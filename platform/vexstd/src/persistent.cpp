#include "vexstd/persistent.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <typeindex>

#include "vexstd/archive.h"

vcPersistent::~vcPersistent() = default;

void vcPersistent::dispatchSerialize(vcArchive& ar) {
  if (haveVisited(this, sizeof(vcPersistent))) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion("vcPersistent", 0);
  setVisited(this, sizeof(vcPersistent));
}

void vcPersistent::reInit() {}

void vcPersistent::loadSimple(vcArchive& ar) {
  dispatchSerialize(ar);
}

void vcPersistent::mutating_() {
  ++changes_;
}

vcRepBase::~vcRepBase() = default;

// ---- the class registry ----

namespace {

struct Registration {
  std::type_index type;
  std::string name;
  vc_Instantiator::Factory make;
};

struct Registry {
  std::mutex mutex;
  std::vector<Registration> entries;  // registration order
};

// The registry is the platform's one piece of shared state. It is made on
// first use, which is during the static initialisation of the first library
// that registers a class, and outlives every registration.
Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

std::string vc_Instantiator::nameOf(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

vc_Instantiator::vc_Instantiator(const std::type_info& type, Factory make) : type_(&type) {
  Registry& r = registry();
  std::string name = nameOf(type);
  std::lock_guard lock(r.mutex);
  // A class registered twice (say, by two copies of one library) keeps its
  // first registration.
  const auto known = std::find_if(r.entries.begin(), r.entries.end(), [&](const Registration& e) {
    return e.type == std::type_index(type) || e.name == name;
  });
  if (known != r.entries.end() || make == nullptr) return;
  r.entries.push_back(Registration{std::type_index(type), std::move(name), make});
  registered_ = true;
}

vc_Instantiator::~vc_Instantiator() {
  // Unregister, so that a library unloaded while the process goes on leaves
  // no factory behind that points into unmapped code.
  if (!registered_) return;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.entries.erase(std::remove_if(r.entries.begin(), r.entries.end(),
                                 [&](const Registration& e) { return e.type == std::type_index(*type_); }),
                  r.entries.end());
}

bool vc_Instantiator::isRegistered(const std::type_info& type) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return std::any_of(r.entries.begin(), r.entries.end(),
                     [&](const Registration& e) { return e.type == std::type_index(type); });
}

std::vector<std::string> vc_Instantiator::registeredNames() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> names;
  names.reserve(r.entries.size());
  for (const Registration& e : r.entries) names.push_back(e.name);
  return names;
}

vcPersistent* vc_Instantiator::make(const std::string& name) {
  Factory factory = nullptr;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it =
        std::find_if(r.entries.begin(), r.entries.end(), [&](const Registration& e) { return e.name == name; });
    if (it != r.entries.end()) factory = it->make;
  }
  return factory != nullptr ? factory() : nullptr;
}
