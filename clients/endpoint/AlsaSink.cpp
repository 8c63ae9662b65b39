#include "clients/endpoint/AlsaSink.h"

#include <alsa/asoundlib.h>

#include "common/Logger.h"

AlsaSink::~AlsaSink() {
    if (pcm_) {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }
}

bool AlsaSink::open(std::string& error) {
    int rc = snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (rc >= 0) {
        rc = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                                44100, 1, 100000);
    }
    if (rc < 0) {
        error = "cannot open ALSA device " + device_ + ": " + snd_strerror(rc);
        if (pcm_) {
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
        }
        return false;
    }
    return true;
}

bool AlsaSink::write(const int16_t* interleaved, size_t frames) {
    while (frames > 0) {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, interleaved, frames);
        if (n < 0) {
            // An underrun of the card itself (-EPIPE) or a suspend: start it again.
            gLogger().logout("ALSA write: %s", snd_strerror(static_cast<int>(n)));
            n = snd_pcm_recover(pcm_, static_cast<int>(n), 1);
            if (n < 0) {
                return false;
            }
            continue;
        }
        interleaved += n * 2;
        frames -= static_cast<size_t>(n);
    }
    return true;
}
