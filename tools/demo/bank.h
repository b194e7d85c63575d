// vexfilt-demo --bank: a Gabor bank over the image, its orientation and
// texture-energy maps, and a defect model's map.
#pragma once

#include "args.h"
#include "grey_image.h"

namespace demo {

// Runs the bank on `input` and writes into options.outputDir:
//   bank_orientation.png  hue: dominant orientation (a full turn of hue for
//                         180 degrees), saturation: coherence, value: energy
//   bank_energy.png       texture energy, linear up to its 99.5th percentile
//   bank_distance.png     distance from the defect model (threshold at 128)
//   bank_defects.png      the input, dimmed, with defect pixels in red
// The defect model is trained on the --train images; without them on two
// flaw-free renderings of the weave for the built-in scene (`isScene`), and
// on the input itself otherwise (its flaws then must cover well under the
// false-alarm rate). For the scene it also prints the share of flaw pixels
// found and of flaw-free pixels flagged. Returns the exit status.
int runBank(const Options& options, const GreyImage& input, bool isScene);

}  // namespace demo
