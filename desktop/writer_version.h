// The version of the application that wrote a file, for the formats that record it near the start.

#pragma once

#include <QString>

#include <optional>

namespace vantrel {

// The file formats whose writer's version can be read.
enum class WriterFormat {
    kdenliveProject, // Kdenlive's MLT XML project
    ardourSession,   // Ardour's XML session file
    blenderProject,  // Blender's binary file, uncompressed
};

// The version of the application that wrote the file at `path` in `format`, recorded near the
// start of the file; reads at most the first 64 KiB. Absent when it lies further in, the file
// does not record it (a compressed Blender file) or cannot be read.
std::optional<QString> readWriterVersion(WriterFormat format, const QString& path);

} // namespace vantrel
