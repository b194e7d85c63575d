// Every message text the library throws, in one place. Not installed.
#pragma once

namespace vf_msg {

// InvalidArgument
inline constexpr const char* kFrequencyRange = "Frequency must be between 0.0 and 0.5.";
inline constexpr const char* kSigmaPositive = "Sigma must be positive.";
inline constexpr const char* kPlateauNegative = "Plateau cannot be negative.";
inline constexpr const char* kDcRemovalNegative = "DC Removal Radius cannot be negative.";
inline constexpr const char* kDcProtectionNegative = "DC Protection Radius cannot be negative.";
inline constexpr const char* kSigmasPositive = "Sigma values must be positive.";
inline constexpr const char* kPlateausNegative = "Plateau values cannot be negative.";

// Uninitialized
inline constexpr const char* kBufferUninitialized = "FrequencyBuffer has not been initialized";
inline constexpr const char* kFilterUninitialized = "FrequencyFilter has not been initialized";

// InvalidSize
inline constexpr const char* kSizeLimit = "Width and Height must be no larger than 2048.";
inline constexpr const char* kCopiedWidthSmall = "Copied width must be > 1";
inline constexpr const char* kCopiedHeightSmall = "Copied height must be > 1";
inline constexpr const char* kCopiedWidthLarge = "Copied width cannot be greater than source width";
inline constexpr const char* kCopiedHeightLarge = "Copied height cannot be greater than source height";
inline constexpr const char* kUnsupportedWidth = "Unsupported width";
inline constexpr const char* kUnsupportedHeight = "Unsupported height";
inline constexpr const char* kPelBuffersDiffer =
    "Real and Imaginary PelBuffers must have the same dimensions and offset.";
inline constexpr const char* kPairDiffers = "Real and Imaginary buffers must have the same size and offset.";
inline constexpr const char* kAddSizes = "Can only add equal-sized frequency buffers.";
inline constexpr const char* kSubtractSizes = "Can only subtract equal-sized frequency buffers.";
inline constexpr const char* kMultiplySizes = "Can only multiply equal-sized frequency buffers.";
inline constexpr const char* kFilterSize = "Size of frequency buffer does not match size of filter.";
inline constexpr const char* kPowerOfTwo = "Size must be a power of 2.";

// InvalidBuffer
inline constexpr const char* kInverseComputed = "Cannot access frequency data once inverse has been computed.";

// BadCoord
inline constexpr const char* kBadCoord = "Coordinates are out of bounds";

}  // namespace vf_msg
