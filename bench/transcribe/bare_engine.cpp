// The bare engine baseline for the transcribe benchmark: pocketsphinx driven directly,
// the way harkline drives it (standard input read in 4096-byte pieces, utterances cut
// at pauses, the partial hypothesis taken after every piece), one line per hypothesis.
//
//   bare_engine ACOUSTIC_MODEL LANGUAGE_MODEL DICTIONARY < audio.raw
#include <cstdio>
#include <string>

#include <unistd.h>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s ACOUSTIC_MODEL LANGUAGE_MODEL DICTIONARY < audio.raw\n", argv[0]);
        return 2;
    }
    err_set_logfp(nullptr);
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", argv[1], "-lm", argv[2], "-dict", argv[3], nullptr);
    ps_decoder_t* decoder = config ? ps_init(config) : nullptr;
    if (decoder == nullptr) {
        std::fprintf(stderr, "cannot load the model\n");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    auto hypothesis = [&] {
        const char* text = ps_get_hyp(decoder, nullptr);
        return std::string(text ? text : "");
    };
    bool inUtterance = false, heardSpeech = false;
    std::string lastPartial;
    auto endUtterance = [&] {
        ps_end_utt(decoder);
        inUtterance = false;
        auto text = hypothesis();
        if (!text.empty() || !lastPartial.empty()) std::printf("final %s\n", text.c_str());
    };

    unsigned char bytes[4096 + 1];
    std::size_t carried = 0;
    for (;;) {
        auto count = read(0, bytes + carried, 4096);
        if (count <= 0) break;
        std::size_t available = carried + static_cast<std::size_t>(count);
        std::size_t samples = available / 2;
        if (!inUtterance) {
            ps_start_utt(decoder);
            inUtterance = true;
            heardSpeech = false;
            lastPartial.clear();
        }
        ps_process_raw(decoder, reinterpret_cast<const int16*>(bytes), samples, FALSE, FALSE);
        carried = available % 2;
        if (carried) bytes[0] = bytes[available - 1];
        bool inSpeech = ps_get_in_speech(decoder) != 0;
        heardSpeech = heardSpeech || inSpeech;
        if (heardSpeech && !inSpeech) {
            endUtterance();
        } else if (heardSpeech) {
            auto partial = hypothesis();
            if (!partial.empty() && partial != lastPartial) {
                lastPartial = partial;
                std::printf("partial %s\n", partial.c_str());
            }
        }
    }
    if (inUtterance) endUtterance();
    ps_free(decoder);
    cmd_ln_free_r(config);
    return 0;
}
