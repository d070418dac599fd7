#ifndef FUSIONCOMPUTE_EXPORT_H
#define FUSIONCOMPUTE_EXPORT_H

/// Marks the classes of the library's namespace that the shared library exports; everything else is
/// hidden.
#define FCSDK_EXPORT __attribute__((visibility("default")))

#endif  // FUSIONCOMPUTE_EXPORT_H
