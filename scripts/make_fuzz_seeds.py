#!/usr/bin/python3
"""Writes the starting inputs of the fuzz targets into fuzz/corpus/<name>/.
Run once from the repository root; the files are committed. Inputs that a
fuzzer later found failing are added beside them by hand."""
import os
import shutil
import struct
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus")


def put(target, name, data):
    d = os.path.join(root, target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


csv_seeds = {
    "header": "image_path,expected,group_id\nimg/a.jpg,品川 300 あ 12-34,G1\nimg/b.jpg,,\n",
    "positional": "x.jpg,ABC\ny.jpg,\"a,b\",\"q\"\"q\"\n",
    "bom_crlf": "\ufeffimage_path,expected\r\na.jpg,x\r\n\r\n  \r\nb.jpg,y",
    "reordered": "image_path,note,expected,image_path\n1,2,3,4\n,skip\n#c.jpg\n",
    "odd": "\"unbalanced,quote\n,,,\n\xff\xfe\x00,\x80\n",
}
for k, v in csv_seeds.items():
    put("case_list", k, v)
    put("trimmed_lines", k, v)
for k, v in {"plain": "a,b,c", "quoted": "\"a,b\", c ,\"\"", "empty": "", "unbalanced": "a\"b,c",
             "utf8": " 品川 ,\t300\t,\"あ\""}.items():
    put("split_csv", k, v)
put("trimmed_lines", "dict", "0\n1\n \n-\n・\n品\n川\nあ\n")


def rec_input(n_dims, dims, dict_picks, floats):
    b = struct.pack("<I", n_dims)
    for d in range(16):
        v = dims[d] if d < len(dims) else 0
        b += bytes([v]) if v < 224 else bytes([255]) + struct.pack("<I", v)
    b += struct.pack("<I", len(dict_picks))
    for p in dict_picks:
        b += bytes([p]) if p < 128 else bytes([p, 2]) + b"12"
    return b + struct.pack("<%df" % len(floats), *floats)


def logits(steps, classes, best):
    out = []
    for t in range(steps):
        row = [0.0] * classes
        row[best[t % len(best)]] = 5.0
        out += row
    return out


dict_picks = [0, 1, 2, 200, 3, 4, 130]  # kana and two-byte strings "12"
seeds = {
    "dims3": rec_input(3, [1, 4, 8], dict_picks, logits(4, 8, [1, 0, 2, 2])),
    "dims2": rec_input(2, [4, 8], dict_picks, logits(4, 8, [3, 3, 0, 4])),
    "dims1": rec_input(1, [32], dict_picks, logits(4, 8, [5, 0, 5, 6])),
    "blank": rec_input(3, [1, 6, 8], dict_picks, logits(6, 8, [0])),
    "short": rec_input(3, [1, 40, 100], dict_picks, logits(2, 8, [1])),
    "huge": rec_input(4, [1, 1, 4294967295, 4294967295], dict_picks, logits(1, 8, [1])),
    "nan": rec_input(3, [1, 2, 4], [0, 1, 2], [float("nan")] * 4 + [1.0, float("inf"), -float("inf"), 0.0]),
}
for k, v in seeds.items():
    put("ctc_decode", k, v)
    put("ctc_decode_kana", k, v)


def det_input(w, h, thresh, values):
    return struct.pack("<IIf", w - 1, h - 1, thresh) + struct.pack("<%df" % len(values), *values)


put("plate_det_rows", "score_second", det_input(640, 480, 0.5, [0, 0.9, 100, 50, 300, 120]))
put("plate_det_rows", "score_fifth", det_input(640, 480, 0.5, [10, 20, 300, 120, 0.7, 0]))
put("plate_det_rows", "normalised", det_input(1000, 500, 0.1, [0, 0.8, 0.1, 0.2, 0.6, 0.7, 0, 0.95, 0, 0, 1, 1]))
put("plate_det_rows", "odd_count", det_input(64, 64, 0.0, [1.0] * 13))
put("plate_det_rows", "nan", det_input(64, 64, float("nan"), [float("nan"), 0.5, float("inf"), -1e30, 1e30, 3]))


def map_input(w, h, thresh, side, blocks, raw=False):
    values = [0.0] * (side * side)
    for (x, y, bw, bh) in blocks:
        for r in range(y, y + bh):
            for c in range(x, x + bw):
                values[r * side + c] = 5.0 if raw else 0.9
    return struct.pack("<IIf", w - 1, h - 1, thresh) + struct.pack("<%df" % len(values), *values)


put("text_det_map", "two_rows", map_input(320, 96, 0.3, 40, [(2, 4, 20, 8), (5, 20, 30, 10)]))
put("text_det_map", "raw_scores", map_input(320, 96, 0.3, 32, [(0, 0, 10, 10)], raw=True))
put("text_det_map", "many", map_input(640, 640, 0.3, 64, [(x, y, 5, 4) for x in range(0, 60, 8) for y in range(0, 60, 7)]))
put("text_det_map", "not_square", struct.pack("<IIf", 99, 99, 0.3) + struct.pack("<7f", *[1.0] * 7))


def parser_input(words, texts):
    b = struct.pack("<I", len(words))
    for w in words:
        e = w.encode("utf-8")
        b += bytes([len(e)]) + e
    for tag, t in texts:
        e = t.encode("utf-8") if isinstance(t, str) else t
        b += bytes([tag, len(e)]) + e
    return b


put("plate_parser", "full", parser_input(["品川", "川"], [(0, "品川 300 あ 12-34")]))
put("plate_parser", "rows", parser_input(["品川"], [(1, "品川300"), (2, "さ12-34"), (3, "1234"), (4, "・・12")]))
put("plate_parser", "swap", parser_input(["練馬"], [(1, "練馬 123"), (2, "456"), (1, "456")]))
put("plate_parser", "bytes", parser_input(["\udcff".encode("utf-8", "surrogatepass").decode("utf-8", "ignore") or "x"],
                                            [(5, b"\xe3\x81\x82\xff\xfe12-345678"), (0, b"\xe3\x81"), (1, b"")]))

fixtures = sys.argv[1] if len(sys.argv) > 1 else None
if fixtures:
    for name in ("corner.onnx", "det.onnx", "flat_input.onnx", "rec_c11.onnx"):
        shutil.copy(os.path.join(fixtures, name), os.path.join(root, "rknn_init", name))
put("rknn_init", "text", "this is no model\n")
put("rknn_init", "empty_graph", b"\x3a\x00")
