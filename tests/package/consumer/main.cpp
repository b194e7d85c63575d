// Uses the installed headers and libraries: a buffer through an archive, a
// library error caught through a platform base, the registry filled at load,
// and the version header agreeing with the package's version.
#include <filt/fft.h>
#include <vexstd/vexstd.h>
#include <vexsys/attention.h>

#include <cstdio>
#include <cstring>

#define STRINGIFY_(x) #x
#define STRINGIFY(x) STRINGIFY_(x)

int main() {
  vcFrequencyBuffer buffer(100, 60);
  buffer.put(3, -2, vcPair<double>(1.5, -0.25), true);

  vcMemoryArchive out;
  out || buffer;
  vcMemoryArchive in(out.bytes());
  vcFrequencyBuffer loaded;
  in || loaded;

  bool caught = false;
  try {
    (void)vcFrequencyBuffer().width();
  } catch (const vcException& e) {
    caught = e.errorNumber() == 0x10006301;
  }

  const bool registered = vc_Instantiator::isRegistered(typeid(vcFrequencyDefs::BadCoord));
  const bool versioned =
      std::strcmp(VEXFILT_VERSION_STRING, EXPECTED_VERSION) == 0 &&
      std::strcmp(VEXFILT_VERSION_STRING, STRINGIFY(VEXFILT_VERSION_MAJOR) "." STRINGIFY(
                                              VEXFILT_VERSION_MINOR) "." STRINGIFY(VEXFILT_VERSION_PATCH)) == 0;
  const bool ok =
      versioned && loaded == buffer && loaded.width() == 128 && caught && registered && vsys_attention_check() == 0;
  std::printf("consumer: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
