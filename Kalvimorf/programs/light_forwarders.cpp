#include "programs/engine_module.h"

// The light program's stand-ins for the engines on libvips (see engine_forwarders.cpp): every
// image engine and tool, and the PDF compressor, which resamples images with it.

fs::path ImageEngine::convert(const fs::path& source, const OutputFormat& format)
{
    return engineModule().convertImage(source, format);
}

fs::path ImageEngine::mergeToPDF(const std::vector<fs::path>& sources) { return engineModule().mergeImages(sources); }

fs::path ImageTools::run(Tool tool, const fs::path& source, const ToolParams& params)
{
    return engineModule().runImageTool(tool, source, params);
}

fs::path PDFCompress::run(const fs::path& source) { return engineModule().compressPDF(source); }

bool ImageLibrary::start() { return engineModule().startImageLibrary(); }
