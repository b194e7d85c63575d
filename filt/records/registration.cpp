// Registration of the library's persistent classes with the platform, made
// by static initialisation when the library is loaded. All registrations
// stand in this one file because their order is part of the contract: the
// six error classes first, then the filters. (Nothing else happens at load:
// there is no per-thread set-up to switch off on this platform.)

#include <typeinfo>

#include "filt/fft.h"
#include "filt/freqfilt.h"

vc_Instantiator vcFrequencyDefs::InvalidArgument::sExemplar(typeid(vcFrequencyDefs::InvalidArgument),
                                                            &vcFrequencyDefs::InvalidArgument::make);
vc_Instantiator vcFrequencyDefs::Uninitialized::sExemplar(typeid(vcFrequencyDefs::Uninitialized),
                                                          &vcFrequencyDefs::Uninitialized::make);
vc_Instantiator vcFrequencyDefs::InvalidSize::sExemplar(typeid(vcFrequencyDefs::InvalidSize),
                                                        &vcFrequencyDefs::InvalidSize::make);
vc_Instantiator vcFrequencyDefs::UnboundWindow::sExemplar(typeid(vcFrequencyDefs::UnboundWindow),
                                                          &vcFrequencyDefs::UnboundWindow::make);
vc_Instantiator vcFrequencyDefs::InvalidBuffer::sExemplar(typeid(vcFrequencyDefs::InvalidBuffer),
                                                          &vcFrequencyDefs::InvalidBuffer::make);
vc_Instantiator vcFrequencyDefs::BadCoord::sExemplar(typeid(vcFrequencyDefs::BadCoord),
                                                     &vcFrequencyDefs::BadCoord::make);

vc_Instantiator vcFrequencyFilterGabor::sExemplar(typeid(vcFrequencyFilterGabor), &vcFrequencyFilterGabor::make);
vc_Instantiator vcFrequencyFilterGaborReject::sExemplar(typeid(vcFrequencyFilterGaborReject),
                                                        &vcFrequencyFilterGaborReject::make);
vc_Instantiator vcFrequencyFilterBandPass::sExemplar(typeid(vcFrequencyFilterBandPass),
                                                     &vcFrequencyFilterBandPass::make);
vc_Instantiator vcFrequencyFilterBandReject::sExemplar(typeid(vcFrequencyFilterBandReject),
                                                       &vcFrequencyFilterBandReject::make);
vc_Instantiator vcFrequencyFilterImage::sExemplar(typeid(vcFrequencyFilterImage), &vcFrequencyFilterImage::make);
