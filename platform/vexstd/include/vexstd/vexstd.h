// The platform's standard library: everything in one include.
#pragma once

#include "vexstd/archive.h"
#include "vexstd/exception.h"
#include "vexstd/geometry.h"
#include "vexstd/pelbuffer.h"
#include "vexstd/persistent.h"
