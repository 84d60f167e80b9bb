#include "cipher/blowfish.h"

#include <cstring>

void box_setup(BoxSet *boxes, const unsigned char *key, std::size_t key_length) {
    std::memcpy(boxes->S, initial_s, sizeof boxes->S);
    std::size_t j = 0;
    for (int i = 0; i < 18; ++i) {
        std::uint32_t word = 0;
        for (int k = 0; k < 4; ++k) {
            word = word << 8 | key[j];
            if (++j == key_length)
                j = 0;
        }
        boxes->P[i] = initial_p[i] ^ word;
    }
    std::uint32_t left = 0, right = 0;
    for (int i = 0; i < 18; i += 2) {
        block_encrypt(boxes, left, right);
        boxes->P[i] = left;
        boxes->P[i + 1] = right;
    }
    for (auto &box : boxes->S) {
        for (int k = 0; k < 256; k += 2) {
            block_encrypt(boxes, left, right);
            box[k] = left;
            box[k + 1] = right;
        }
    }
}
