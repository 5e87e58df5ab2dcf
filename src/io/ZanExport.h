#pragma once

// Public classes and functions of libzanfile carry this mark; everything else stays hidden.
#define ZAN_EXPORT __attribute__((visibility("default")))
