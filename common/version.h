// The codec's name and version: printed by --version and written into the
// comment (extension) segment of every file the encoder makes.
#pragma once

#define JB2_CODEC_NAME "jbig2codec"
#define JB2_CODEC_VERSION "1.0.0"
