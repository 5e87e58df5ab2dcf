#pragma once

// Public classes and functions of libzanfile carry this mark; everything else stays hidden.
#define ZAN_EXPORT __attribute__((visibility("default")))
// For implementation classes nested in a public class, which would otherwise take its visibility.
#define ZAN_HIDDEN __attribute__((visibility("hidden")))
