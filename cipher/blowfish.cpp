#include "cipher/blowfish.h"

#include <cstring>

namespace lupex {

void box_setup(BoxSet *boxes, const unsigned char *key, std::size_t key_length) {
    std::uint32_t *const P = p_array(boxes);
    static_assert(sizeof initial_s == 4 * 4 * s_words);
    std::memcpy(sbox(boxes, 0), initial_s, sizeof initial_s);
    std::size_t j = 0;
    for (int i = 0; i < 18; ++i) {
        std::uint32_t word = 0;
        for (int k = 0; k < 4; ++k) {
            word = word << 8 | key[j];
            if (++j == key_length)
                j = 0;
        }
        P[i] = initial_p[i] ^ word;
    }
    std::uint32_t left = 0, right = 0;
    for (int i = 0; i < 18; i += 2) {
        block_encrypt(boxes, left, right);
        P[i] = left;
        P[i + 1] = right;
    }
    for (int s = 0; s < 4; ++s) {
        std::uint32_t *const box = sbox(boxes, s);
        for (int k = 0; k < s_words; k += 2) {
            block_encrypt(boxes, left, right);
            box[k] = left;
            box[k + 1] = right;
        }
    }
}

} // namespace lupex
