#include "X264PeerSettings.h"

#include "Media/EncoderH264/RecordManager.h"
#include "Media/EncoderH264/TzVideoEncoder.h"

std::vector<std::string> X264PeerSettings::args(int width, int height, int fps, bool frameThreads)
{
    // The bit rate the capture asks for, as the encoder caps it.
    TzVideoEncoder probe;
    probe.startEncodeSessionWithVideoSize(width, height, fps, RecordManager::bitRateFor(width, height));
    const int kbps = probe.encoderBitRate() / 1000;
    const std::string params = "keyint=" + std::to_string(fps * 2) + ":min-keyint=0:scenecut=0:bitrate="
        + std::to_string(kbps) + ":vbv-maxrate=" + std::to_string(kbps * 3 / 2) + ":vbv-bufsize="
        + std::to_string(kbps * 3 / 2) + ":colormatrix=smpte170m" + (frameThreads ? "" : ":sliced-threads=1");
    return {"-sws_flags", "bilinear", "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "superfast", "-tune",
            "zerolatency", "-profile:v", "baseline", "-thread_type", frameThreads ? "frame" : "slice",
            "-x264-params", params};
}
