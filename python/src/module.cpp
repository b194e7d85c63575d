// The vexfilt extension module (_vexfilt). Each bound area lives in its own
// file and registers itself here; the pure-Python package vexfilt/ imports
// this module and adds the exception classes and small conveniences.
#include <filt/version.h>

#include "convert.h"

PYBIND11_MODULE(_vexfilt, m) {
  m.doc() = "vexfilt: frequency-domain image processing (2-D FFTs, spectra, filters) on numpy arrays.";
  m.attr("__version__") = VEXFILT_VERSION_STRING;
  vfpy::bindErrors(m);
  vfpy::bindSpectra(m);
  vfpy::bindTransforms(m);
  vfpy::bindFilters(m);
  vfpy::bindTiming(m);
  vfpy::bindFrames(m);
  vfpy::bindRegistration(m);
  vfpy::bindTexture(m);
}
