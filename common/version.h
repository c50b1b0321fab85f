// The codec's name and version: printed by --version and written into the
// comment (extension) segment of every file the encoder makes.
#pragma once

#include "include/jbig2codec/jb2codec.h"

#define JB2_CODEC_NAME "jbig2codec"
#define JB2_CODEC_VERSION JB2CODEC_VERSION_STRING
