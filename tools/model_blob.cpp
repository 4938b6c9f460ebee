#include "model_blob.h"

#include <cJSON.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "store/zu_ecdsa.h"
#include "store/zu_sha256.h"

// ---------------------------------------------------------------------------
// JSON model source

namespace {

struct json_reader {
    std::string *error;

    bool fail(const std::string &path, const std::string &what) {
        *error = path + ": " + what;
        return false;
    }

    // Every key of obj must be one of the allowed names (catches misspellings).
    bool only_keys(const cJSON *obj, const std::string &path, const char *const *allowed) {
        for (const cJSON *c = obj->child; c; c = c->next) {
            bool known = false;
            for (const char *const *a = allowed; *a; a++)
                known = known || strcmp(c->string, *a) == 0;
            if (!known) return fail(path, std::string("unknown key \"") + c->string + "\"");
        }
        return true;
    }

    const cJSON *member(const cJSON *obj, const char *key, const std::string &path, bool required) {
        const cJSON *item = cJSON_GetObjectItemCaseSensitive(obj, key);
        if (!item && required) fail(path, std::string("missing \"") + key + "\"");
        return item;
    }

    bool integer(const cJSON *item, const std::string &path, double lo, double hi, int64_t *out) {
        if (!cJSON_IsNumber(item) || item->valuedouble != floor(item->valuedouble) ||
            item->valuedouble < lo || item->valuedouble > hi) {
            char range[96];
            snprintf(range, sizeof range, "expected an integer from %.0f to %.0f", lo, hi);
            return fail(path, range);
        }
        *out = (int64_t)item->valuedouble;
        return true;
    }

    // A 16.16 value written as a decimal number in its real unit (nats or
    // score units), rounded to the nearest 1/65536. With allow_log_zero the
    // text "-inf" stands for log 0 (INT32_MIN).
    bool fix16(const cJSON *item, const std::string &path, bool allow_log_zero, int32_t *out) {
        if (allow_log_zero && cJSON_IsString(item) && strcmp(item->valuestring, "-inf") == 0) {
            *out = MODEL_LOG_ZERO;
            return true;
        }
        if (cJSON_IsNumber(item)) {
            double raw = nearbyint(item->valuedouble * 65536.0);
            if (raw > (double)INT32_MIN && raw <= (double)INT32_MAX) {
                *out = (int32_t)raw;
                return true;
            }
        }
        return fail(path, allow_log_zero
                              ? "expected a number above -32768 and below 32768, or \"-inf\""
                              : "expected a number above -32768 and below 32768");
    }

    const cJSON *array(const cJSON *item, const std::string &path, int min_size, int max_size) {
        if (!cJSON_IsArray(item)) {
            fail(path, "expected an array");
            return nullptr;
        }
        int n = cJSON_GetArraySize(item);
        if (n < min_size || n > max_size) {
            fail(path, "expected an array of " + std::to_string(min_size) + " to " +
                           std::to_string(max_size) + " elements, found " + std::to_string(n));
            return nullptr;
        }
        return item;
    }

    // An array of exactly `count` signed 16-bit integers, appended to out.
    bool i16_row(const cJSON *item, const std::string &path, int count, std::vector<int16_t> *out) {
        if (!array(item, path, count, count)) return false;
        int i = 0;
        for (const cJSON *v = item->child; v; v = v->next, i++) {
            int64_t x = 0;
            if (!integer(v, path + "[" + std::to_string(i) + "]", -32768, 32767, &x)) return false;
            out->push_back((int16_t)x);
        }
        return true;
    }
};

std::string idx(const std::string &path, int i) {
    return path + "[" + std::to_string(i) + "]";
}

bool parse_matrix(json_reader &j, const cJSON *item, model_source *out) {
    static const char *const keys[] = {"start", "weights", nullptr};
    const std::string path = "matrix";
    if (!j.array(item, path, 1, 65535)) return false;
    int i = 0;
    for (const cJSON *row = item->child; row; row = row->next, i++) {
        std::string rp = idx(path, i);
        if (!cJSON_IsObject(row))
            return j.fail(rp, "expected an object with \"start\" and \"weights\"");
        if (!j.only_keys(row, rp, keys)) return false;
        const cJSON *start = j.member(row, "start", rp, true);
        const cJSON *weights = j.member(row, "weights", rp, true);
        int64_t s = 0;
        if (!start || !weights || !j.integer(start, rp + ".start", 0, MODEL_FEATURE_COUNT - 1, &s))
            return false;
        // A row reads feature values start .. start + len - 1 of the 243-value vector.
        int max_len = (int)(MODEL_FEATURE_COUNT - s);
        if (!cJSON_IsArray(weights) || cJSON_GetArraySize(weights) < 1 ||
            cJSON_GetArraySize(weights) > max_len) {
            return j.fail(rp + ".weights", "expected 1 to " + std::to_string(max_len) +
                                               " Q15 weights (start + count may not exceed " +
                                               std::to_string(MODEL_FEATURE_COUNT) + ")");
        }
        int n = cJSON_GetArraySize(weights);
        if (!j.i16_row(weights, rp + ".weights", n, &out->weights)) return false;
        out->start.push_back((uint16_t)s);
        out->len.push_back((uint16_t)n);
    }
    return true;
}

bool parse_transitions(json_reader &j, const cJSON *item, const std::string &path, int n,
                       model_decoder *dec) {
    if (!j.array(item, path, n + 2, n + 2)) return false;
    dec->transitions.assign((size_t)(n + 2) * n, MODEL_LOG_ZERO);
    int k = 0;
    for (const cJSON *row = item->child; row; row = row->next, k++) {
        std::string rp = idx(path, k);
        int32_t *dst = &dec->transitions[(size_t)k * n];
        if (dec->format == MODEL_TRANSITIONS_DENSE) {
            if (!j.array(row, rp, n, n)) return false;
            int c = 0;
            for (const cJSON *v = row->child; v; v = v->next, c++) {
                if (!j.fix16(v, idx(rp, c), true, &dst[c])) return false;
            }
        } else {
            // Sparse rows list [column, value] pairs; columns not listed are log 0.
            if (!j.array(row, rp, 0, 65535)) return false;
            int e = 0;
            std::vector<bool> seen((size_t)n, false);
            for (const cJSON *pair = row->child; pair; pair = pair->next, e++) {
                std::string ep = idx(rp, e);
                if (!j.array(pair, ep, 2, 2)) return false;
                int64_t col = 0;
                int32_t value = 0;
                if (!j.integer(pair->child, idx(ep, 0), 0, n - 1, &col)) return false;
                if (!j.fix16(pair->child->next, idx(ep, 1), true, &value)) return false;
                if (seen[(size_t)col])
                    return j.fail(ep, "column " + std::to_string(col) + " given twice");
                seen[(size_t)col] = true;
                dst[col] = value;
            }
        }
    }
    return true;
}

bool parse_state(json_reader &j, const cJSON *item, const std::string &path, int dim,
                 model_state *st) {
    static const char *const keys[] = {"constants", "means", "precisions", nullptr};
    if (!cJSON_IsObject(item)) return j.fail(path, "expected an object");
    if (!j.only_keys(item, path, keys)) return false;
    const cJSON *constants = j.member(item, "constants", path, true);
    const cJSON *means = j.member(item, "means", path, true);
    const cJSON *precisions = j.member(item, "precisions", path, true);
    if (!constants || !means || !precisions) return false;
    if (!j.array(constants, path + ".constants", 1, 65535)) return false;
    int m = cJSON_GetArraySize(constants);
    int c = 0;
    for (const cJSON *v = constants->child; v; v = v->next, c++) {
        int32_t x = 0;
        if (!j.fix16(v, idx(path + ".constants", c), true, &x)) return false;
        st->constants.push_back(x);
    }
    const char *names[2] = {"means", "precisions"};
    const cJSON *tables[2] = {means, precisions};
    std::vector<int16_t> *dst[2] = {&st->means, &st->precisions};
    for (int t = 0; t < 2; t++) {
        std::string tp = path + "." + names[t];
        if (!j.array(tables[t], tp, m, m)) {
            return j.fail(tp, "expected " + std::to_string(m) + " rows, one per mixture constant");
        }
        int r = 0;
        for (const cJSON *row = tables[t]->child; row; row = row->next, r++) {
            if (!j.i16_row(row, idx(tp, r), dim, dst[t])) {
                if (cJSON_IsArray(row) && cJSON_GetArraySize(row) != dim) {
                    return j.fail(idx(tp, r), "expected " + std::to_string(dim) +
                                                  " values, one per matrix row");
                }
                return false;
            }
        }
    }
    return true;
}

bool parse_decoder(json_reader &j, const cJSON *item, const std::string &path, int dim,
                   model_decoder *dec) {
    static const char *const keys[] = {"format", "transitions", "states", nullptr};
    if (!cJSON_IsObject(item)) return j.fail(path, "expected an object");
    if (!j.only_keys(item, path, keys)) return false;
    const cJSON *format = j.member(item, "format", path, true);
    const cJSON *transitions = j.member(item, "transitions", path, true);
    const cJSON *states = j.member(item, "states", path, true);
    if (!format || !transitions || !states) return false;
    if (cJSON_IsString(format) && strcmp(format->valuestring, "dense") == 0) {
        dec->format = MODEL_TRANSITIONS_DENSE;
    } else if (cJSON_IsString(format) && strcmp(format->valuestring, "sparse") == 0) {
        dec->format = MODEL_TRANSITIONS_SPARSE;
    } else {
        return j.fail(path + ".format", "expected \"dense\" or \"sparse\"");
    }
    // The sparse row pointers are 16-bit, so a sparse decoder has at most
    // 65535 entries; the state count itself is a 16-bit field.
    if (!j.array(states, path + ".states", 1, 65535)) return false;
    int n = cJSON_GetArraySize(states);
    if (!parse_transitions(j, transitions, path + ".transitions", n, dec)) return false;
    int s = 0;
    for (const cJSON *st = states->child; st; st = st->next, s++) {
        dec->states.emplace_back();
        if (!parse_state(j, st, idx(path + ".states", s), dim, &dec->states.back())) return false;
    }
    return true;
}

bool parse_curve(json_reader &j, const cJSON *item, model_source *out) {
    const std::string path = "sensitivity_curve";
    if (!j.array(item, path, 0, 255)) return false;
    int i = 0;
    for (const cJSON *pair = item->child; pair; pair = pair->next, i++) {
        std::string pp = idx(path, i);
        if (!j.array(pair, pp, 2, 2)) return false;
        int64_t pos = 0;
        model_curve_point pt;
        if (!j.integer(pair->child, idx(pp, 0), 0, 255, &pos)) return false;
        if (!j.fix16(pair->child->next, idx(pp, 1), false, &pt.threshold)) return false;
        pt.position = (uint8_t)pos;
        out->curve.push_back(pt);
    }
    return true;
}

bool parse_version(json_reader &j, const cJSON *item, uint32_t *out) {
    if (cJSON_IsString(item)) {
        char *end = nullptr;
        unsigned long v = strtoul(item->valuestring, &end, 0);
        if (item->valuestring[0] && *end == 0 && v <= UINT32_MAX) {
            *out = (uint32_t)v;
            return true;
        }
        return j.fail("version", "expected a 32-bit number such as \"0x00020001\"");
    }
    int64_t v = 0;
    if (!j.integer(item, "version", 0, UINT32_MAX, &v)) return false;
    *out = (uint32_t)v;
    return true;
}

}  // namespace

bool model_source_parse(const char *json, model_source *out, std::string *error) {
    static const char *const keys[] = {"name",       "version",           "sample_rate",
                                       "buffer_len", "default_threshold", "sensitivity_curve",
                                       "matrix",     "decoders",          nullptr};
    *out = model_source();
    json_reader j{error};
    cJSON *root = cJSON_Parse(json);
    if (!root) {
        const char *at = cJSON_GetErrorPtr();
        *error = "not valid JSON";
        if (at) *error += std::string(" near \"") + std::string(at).substr(0, 24) + "\"";
        return false;
    }
    bool ok = false;
    do {
        if (!cJSON_IsObject(root)) {
            j.fail("model source", "expected a JSON object");
            break;
        }
        if (!j.only_keys(root, "model source", keys)) break;
        const cJSON *name = j.member(root, "name", "model source", true);
        const cJSON *rate = j.member(root, "sample_rate", "model source", true);
        const cJSON *buffer = j.member(root, "buffer_len", "model source", true);
        const cJSON *threshold = j.member(root, "default_threshold", "model source", true);
        const cJSON *matrix = j.member(root, "matrix", "model source", true);
        const cJSON *decoders = j.member(root, "decoders", "model source", true);
        if (!name || !rate || !buffer || !threshold || !matrix || !decoders) break;
        const cJSON *version = j.member(root, "version", "", false);
        const cJSON *curve = j.member(root, "sensitivity_curve", "", false);

        // The trailer stores the name's length in one byte; the engine keeps 31 characters.
        if (!cJSON_IsString(name) || strlen(name->valuestring) > 255) {
            j.fail("name", "expected a text of at most 255 bytes");
            break;
        }
        out->name = name->valuestring;
        if (version && !parse_version(j, version, &out->version)) break;
        int64_t v = 0;
        if (!j.integer(rate, "sample_rate", 1, UINT32_MAX, &v)) break;
        out->sample_rate = (uint32_t)v;
        if (!j.integer(buffer, "buffer_len", MODEL_MIN_BUFFER_LEN, UINT32_MAX, &v)) break;
        out->buffer_len = (uint32_t)v;
        if (!j.fix16(threshold, "default_threshold", false, &out->default_threshold)) break;
        if (curve && !parse_curve(j, curve, out)) break;
        if (!parse_matrix(j, matrix, out)) break;
        if (!j.array(decoders, "decoders", 1, 2)) break;
        int d = 0;
        bool decoders_ok = true;
        for (const cJSON *dec = decoders->child; dec && decoders_ok; dec = dec->next, d++) {
            out->decoders.emplace_back();
            decoders_ok = parse_decoder(j, dec, idx("decoders", d), (int)out->start.size(),
                                        &out->decoders.back());
        }
        ok = decoders_ok;
    } while (false);
    cJSON_Delete(root);
    return ok;
}

// ---------------------------------------------------------------------------
// Blob writer

namespace {

void put_u8(std::vector<uint8_t> *b, uint32_t v) {
    b->push_back((uint8_t)v);
}
void put_u16(std::vector<uint8_t> *b, uint32_t v) {
    b->push_back((uint8_t)(v >> 8));
    b->push_back((uint8_t)v);
}
void put_u32(std::vector<uint8_t> *b, uint32_t v) {
    put_u16(b, v >> 16);
    put_u16(b, v & 0xFFFFu);
}
void set_u32(std::vector<uint8_t> *b, size_t at, uint32_t v) {
    (*b)[at] = (uint8_t)(v >> 24);
    (*b)[at + 1] = (uint8_t)(v >> 16);
    (*b)[at + 2] = (uint8_t)(v >> 8);
    (*b)[at + 3] = (uint8_t)v;
}

bool write_decoder(const model_decoder &dec, std::vector<uint8_t> *b, std::string *error,
                   int which) {
    size_t n = dec.states.size();
    size_t start = b->size();
    put_u32(b, 0);  // M, patched below
    put_u16(b, 0);
    put_u8(b, dec.format);
    put_u16(b, (uint32_t)n);
    if (dec.format == MODEL_TRANSITIONS_DENSE) {
        for (int32_t v : dec.transitions) put_u32(b, (uint32_t)v);
    } else {
        // Row pointers over the n + 2 rows, then the columns, then the values.
        std::vector<uint32_t> row_ptr(1, 0);
        for (size_t k = 0; k < n + 2; k++) {
            uint32_t count = 0;
            for (size_t c = 0; c < n; c++) count += dec.transitions[k * n + c] != MODEL_LOG_ZERO;
            row_ptr.push_back(row_ptr.back() + count);
        }
        if (row_ptr.back() > 65535) {
            *error = "decoders[" + std::to_string(which) + "]: " + std::to_string(row_ptr.back()) +
                     " sparse transitions exceed the 16-bit row pointers (at most 65535)";
            return false;
        }
        for (uint32_t p : row_ptr) put_u16(b, p);
        for (size_t i = 0; i < dec.transitions.size(); i++) {
            if (dec.transitions[i] != MODEL_LOG_ZERO) put_u16(b, (uint32_t)(i % n));
        }
        for (int32_t v : dec.transitions) {
            if (v != MODEL_LOG_ZERO) put_u32(b, (uint32_t)v);
        }
    }
    for (const model_state &st : dec.states) {
        put_u16(b, (uint32_t)st.constants.size());
        for (int32_t c : st.constants) put_u32(b, (uint32_t)c);
        for (int16_t v : st.means) put_u16(b, (uint16_t)v);
        for (int16_t v : st.precisions) put_u16(b, (uint16_t)v);
    }
    size_t m = b->size() - start - 4;
    if (m > UINT32_MAX) {
        *error = "decoders[" + std::to_string(which) + "] is too large";
        return false;
    }
    set_u32(b, start, (uint32_t)m);
    return true;
}

}  // namespace

bool model_blob_signed_part(const model_source &src, std::vector<uint8_t> *out,
                            std::string *error) {
    std::vector<uint8_t> &b = *out;
    b.clear();
    const size_t n_rows = src.start.size();
    const size_t matrix_len = 10 + 2 * (2 * n_rows + src.weights.size());
    for (const char *k = "BSMF"; *k; k++) b.push_back((uint8_t)*k);
    put_u32(&b, 0);  // S - 12, patched below
    put_u32(&b, 0);  // not read
    put_u32(&b, src.version);
    put_u32(&b, (uint32_t)matrix_len);
    put_u32(&b, src.sample_rate);
    put_u32(&b, src.buffer_len);
    put_u16(&b, (uint32_t)n_rows);
    for (uint16_t v : src.start) put_u16(&b, v);
    for (uint16_t v : src.len) put_u16(&b, v);
    for (int16_t v : src.weights) put_u16(&b, (uint16_t)v);
    for (size_t d = 0; d < src.decoders.size(); d++) {
        if (!write_decoder(src.decoders[d], &b, error, (int)d)) return false;
    }
    // S = the signed part plus r and s; S itself must stay a 32-bit size.
    if (b.size() + 64 > UINT32_MAX - 12) {
        *error = "the model is too large for a blob";
        return false;
    }
    set_u32(&b, 4, (uint32_t)(b.size() + 64 - 12));
    return true;
}

void model_blob_finish(const model_source &src, const uint8_t r[32], const uint8_t s[32],
                       std::vector<uint8_t> *blob) {
    std::vector<uint8_t> &b = *blob;
    b.insert(b.end(), r, r + 32);
    b.insert(b.end(), s, s + 32);
    put_u32(&b, 0);  // not read
    put_u8(&b, (uint32_t)src.name.size());
    b.insert(b.end(), src.name.begin(), src.name.end());
    put_u32(&b, (uint32_t)src.default_threshold);
    put_u8(&b, (uint32_t)src.curve.size());
    for (const model_curve_point &p : src.curve) {
        put_u8(&b, p.position);
        put_u32(&b, (uint32_t)p.threshold);
    }
}

// ---------------------------------------------------------------------------
// Checked reader

namespace {

// A cursor over [pos, end) of bytes that refuses to step outside it.
struct byte_cursor {
    const uint8_t *bytes;
    uint64_t pos;
    uint64_t end;

    bool has(uint64_t n) const { return pos <= end && end - pos >= n; }
    uint32_t u8() { return bytes[pos++]; }
    uint32_t u16() {
        uint32_t v = (uint32_t)bytes[pos] << 8 | bytes[pos + 1];
        pos += 2;
        return v;
    }
    uint32_t u32() {
        uint32_t v = u16() << 16;
        return v | u16();
    }
};

bool inspect_decoder(const uint8_t *bytes, uint32_t offset, uint32_t available, uint32_t dim,
                     model_decoder_info *info, std::string *error) {
    const std::string where = "decoder section at offset " + std::to_string(offset);
    byte_cursor c{bytes, offset, (uint64_t)offset + available};
    if (!c.has(4)) return *error = where + ": no room for its length", false;
    info->offset = offset;
    info->length = c.u32();
    if ((uint64_t)info->length + 4 > available) {
        return *error = where + ": its length " + std::to_string(info->length) +
                        " runs past the signature",
               false;
    }
    c.end = c.pos + info->length;
    if (!c.has(5)) return *error = where + ": too short for its header", false;
    c.pos += 2;
    info->format = (uint8_t)c.u8();
    uint32_t n = c.u16();
    info->states = n;
    if (n == 0) return *error = where + ": no states", false;
    uint64_t rows = (uint64_t)n + 2;
    if (info->format == MODEL_TRANSITIONS_DENSE) {
        if (!c.has(rows * n * 4)) return *error = where + ": transition table cut short", false;
        c.pos += rows * n * 4;
        info->nonzero = (uint32_t)(rows * n);
    } else if (info->format == MODEL_TRANSITIONS_SPARSE) {
        if (!c.has((rows + 1) * 2)) return *error = where + ": row pointers cut short", false;
        uint32_t prev = 0;
        for (uint64_t k = 0; k <= rows; k++) {
            uint32_t p = c.u16();
            if (p < prev) return *error = where + ": row pointers decrease", false;
            prev = p;
        }
        info->nonzero = prev;
        if (!c.has((uint64_t)prev * 6)) return *error = where + ": sparse entries cut short", false;
        for (uint32_t i = 0; i < prev; i++) {
            if (c.u16() >= n)
                return *error = where + ": sparse column beyond the state count", false;
        }
        c.pos += (uint64_t)prev * 4;
    } else {
        return *error = where + ": unknown transition format " + std::to_string(info->format),
               false;
    }
    for (uint32_t s = 0; s < n; s++) {
        if (!c.has(2)) return *error = where + ": state " + std::to_string(s) + " cut short", false;
        uint32_t m = c.u16();
        if (m == 0)
            return *error = where + ": state " + std::to_string(s) + " has no mixtures", false;
        uint64_t table = (uint64_t)m * 4 + (uint64_t)m * dim * 4;
        if (!c.has(table)) {
            return *error = where + ": state " + std::to_string(s) + " tables cut short", false;
        }
        c.pos += table;
        info->mixtures += m;
        if (m > info->max_mixtures) info->max_mixtures = m;
    }
    if (c.pos != c.end) {
        return *error =
                   where + ": " + std::to_string(c.end - c.pos) + " bytes after the last state",
               false;
    }
    return true;
}

}  // namespace

bool model_blob_inspect(const uint8_t *bytes, uint32_t size, model_blob_info *info,
                        std::string *error) {
    *info = model_blob_info();
    if (size < 8 || memcmp(bytes, "BSMF", 4) != 0)
        return *error = "not a model blob (no \"BSMF\")", false;
    byte_cursor c{bytes, 4, size};
    uint64_t blob_size = (uint64_t)c.u32() + 12;
    if (blob_size > size) {
        return *error = "blob size " + std::to_string(blob_size) + " exceeds the " +
                        std::to_string(size) + " bytes present",
               false;
    }
    if (blob_size < 84)
        return *error = "blob of " + std::to_string(blob_size) + " bytes is too short", false;
    info->size = (uint32_t)blob_size;
    c.pos = 12;
    info->version = c.u32();
    info->matrix_len = c.u32();
    const uint64_t signature = blob_size - 64;
    if ((uint64_t)info->matrix_len + 20 > signature || info->matrix_len < 10) {
        return *error = "feature-matrix length " + std::to_string(info->matrix_len) +
                        " does not fit in front of the signature",
               false;
    }
    c.end = 20 + (uint64_t)info->matrix_len;
    info->sample_rate = c.u32();
    info->buffer_len = c.u32();
    info->rows = c.u16();
    if (!c.has((uint64_t)info->rows * 4)) return *error = "matrix row tables cut short", false;
    uint64_t weights = 0;
    for (uint32_t i = 0; i < info->rows; i++) {
        uint32_t start = (uint32_t)bytes[30 + 2 * i] << 8 | bytes[31 + 2 * i];
        uint32_t len =
            (uint32_t)bytes[30 + 2 * (info->rows + i)] << 8 | bytes[31 + 2 * (info->rows + i)];
        weights += len;
        info->empty_rows += len == 0;
        uint32_t bins = start + (len ? len : 1);
        if (bins > info->max_bin) info->max_bin = bins;
    }
    info->weights = (uint32_t)weights;
    if ((uint64_t)info->matrix_len != 10 + 2 * (2 * (uint64_t)info->rows + weights)) {
        return *error = "feature-matrix length " + std::to_string(info->matrix_len) +
                        " does not match its " + std::to_string(info->rows) + " rows and " +
                        std::to_string(weights) + " weights",
               false;
    }

    // Decoder sections fill the bytes between the matrix and the signature exactly.
    uint32_t offset = 20 + info->matrix_len;
    uint32_t area = (uint32_t)(signature - offset);
    while (area > 0) {
        if (info->decoders.size() == 2) return *error = "more than two decoder sections", false;
        model_decoder_info d;
        if (!inspect_decoder(bytes, offset, area, info->rows, &d, error)) return false;
        info->decoders.push_back(d);
        offset += d.length + 4;
        area -= d.length + 4;
    }
    if (info->decoders.empty()) return *error = "no decoder section", false;
    memcpy(info->r, bytes + signature, 32);
    memcpy(info->s, bytes + signature + 32, 32);

    // The trailer sits behind four unread bytes after the signature.
    c = byte_cursor{bytes, blob_size + 4, size};
    if (blob_size + 4 >= size) return true;
    if (!c.has(1)) return *error = "trailer cut short", false;
    uint32_t k = c.u8();
    if (!c.has((uint64_t)k + 5)) return *error = "trailer cut short", false;
    info->name.assign((const char *)bytes + c.pos, k);
    c.pos += k;
    info->default_threshold = (int32_t)c.u32();
    uint32_t count = c.u8();
    if (!c.has((uint64_t)count * 5)) return *error = "sensitivity curve cut short", false;
    for (uint32_t i = 0; i < count; i++) {
        model_curve_point p;
        p.position = (uint8_t)c.u8();
        p.threshold = (int32_t)c.u32();
        info->curve.push_back(p);
    }
    info->has_trailer = true;
    return true;
}

bool model_blob_verify(const uint8_t *blob, uint32_t size, const ecdsa_public_key *key) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, blob, size - 64);
    const uint32_t *z = sha256_finalise(&ctx);
    uint32_t r[8], s[8];
    set_from_be(r, blob + size - 64);
    set_from_be(s, blob + size - 32);
    return ecdsa_verify(z, &ecdsa_secp256k1, key, r, s) == 1;
}

static bool parse_hex256(const char *text, size_t len, uint32_t out[8]) {
    if (len != 64) return false;
    uint8_t bytes[32];
    for (size_t i = 0; i < 32; i++) {
        unsigned v = 0;
        for (size_t k = 0; k < 2; k++) {
            char ch = text[2 * i + k];
            unsigned d;
            if (ch >= '0' && ch <= '9') {
                d = (unsigned)(ch - '0');
            } else if (ch >= 'a' && ch <= 'f') {
                d = (unsigned)(ch - 'a' + 10);
            } else if (ch >= 'A' && ch <= 'F') {
                d = (unsigned)(ch - 'A' + 10);
            } else {
                return false;
            }
            v = v << 4 | d;
        }
        bytes[i] = (uint8_t)v;
    }
    set_from_be(out, bytes);
    return true;
}

bool model_parse_public_key(const char *text, ecdsa_public_key *key) {
    const char *colon = strchr(text, ':');
    if (!colon) return false;
    return parse_hex256(text, (size_t)(colon - text), key->x) &&
           parse_hex256(colon + 1, strlen(colon + 1), key->y);
}

bool read_whole_file(const char *path, std::vector<uint8_t> *out, std::string *error) {
    FILE *f = fopen(path, "rb");
    if (!f) {
        *error = std::string("cannot open '") + path + "': " + strerror(errno);
        return false;
    }
    out->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        out->insert(out->end(), chunk, chunk + got);
    bool ok = !ferror(f);
    fclose(f);
    if (!ok) *error = std::string("cannot read '") + path + "'";
    if (ok && out->size() > UINT32_MAX) {
        *error = std::string("'") + path + "' is larger than 4 GiB";
        ok = false;
    }
    return ok;
}

bool write_whole_file(const char *path, const std::vector<uint8_t> &bytes, std::string *error) {
    FILE *f = fopen(path, "wb");
    if (!f) {
        *error = std::string("cannot create '") + path + "': " + strerror(errno);
        return false;
    }
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) *error = std::string("cannot write '") + path + "'";
    return ok;
}
