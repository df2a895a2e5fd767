#!/usr/bin/python3
"""Compile an ordinary ONNX model into a runtime model for the PC.

The runtime feeds input 0 as float32 NCHW, RGB, values 0..255, and runs the
graph with OpenCV's dnn module.  This tool
  * fixes input 0 to a static 1x3xHxW shape and evaluates the shape
    arithmetic that then has one value (fold.py),
  * prepends one 1x1 convolution that reorders channels (--bgr) and applies
    (x / 255 - mean) / std, so the graph takes raw 0..255 RGB,
  * rewrites nodes that OpenCV 4.6 imports wrongly or not at all (rewrites.py:
    Clip with limit inputs, Split with a sizes input, Squeeze and reductions
    with an axes input, constants broadcast along other than the channel axis,
    constant / x, Conv without kernel_shape, LayerNormalization, Identity
    nodes on weights),
  * with an adapter, appends a head that turns a YOLO or PaddleOCR export
    into the layout its platebench stage reads (adapters.py),
  * loads the result with cv2.dnn, runs it once and prints the shapes; the
    output file is written only when that run succeeds.

Usage:
  compile.py IN.onnx OUT.rknn --input-size WxH [--mean r,g,b --std r,g,b] [--bgr]
             [--pool-input N]
  compile.py IN.onnx OUT.rknn --yolo-detect [--input-size WxH] [--top-k K] [--objectness]
  compile.py IN.onnx OUT.rknn --yolo-pose-corners [--classes N] [--corner-order 0,1,2,3]
  compile.py IN.onnx OUT.rknn --ppocr-det
  compile.py IN.onnx OUT.rknn --ppocr-rec [--dict FILE]

--mean/--std are given in the channel order the source model expects (after
the --bgr reorder), on the 0..1 scale: the graph then computes
(x / 255 - mean) / std.  Omit both for a model that already takes 0..255.
An adapter brings its toolkit's normalisation (YOLO: RGB 0..1; PaddleOCR: BGR,
det ImageNet mean/std, rec 0.5/0.5) unless --mean/--std/--unit-range/--bgr/--rgb
say otherwise.
"""
import sys

# inspect.py in this folder would hide the standard module of that name from
# the libraries imported below; the folder stays reachable at the end
if __name__ == "__main__":
    sys.path.append(sys.path.pop(0))

import argparse  # noqa: E402
import os  # noqa: E402
import tempfile  # noqa: E402

import numpy as np  # noqa: E402
import onnx  # noqa: E402
from onnx import helper, numpy_helper, TensorProto  # noqa: E402

import adapters  # noqa: E402
import fold  # noqa: E402
import rewrites  # noqa: E402

# The size each platebench stage feeds its model, (W, H); the detector's is
# read from the model.
STAGE_SIZE = {"yolo-pose-corners": (256, 128), "ppocr-det": (640, 640), "ppocr-rec": (320, 48)}
# Toolkit normalisation: (mean, std, bgr), mean and std on the 0..1 scale in
# the channel order the source expects.
TOOLKIT_NORM = {
    "yolo-detect": ([0.0, 0.0, 0.0], [1.0, 1.0, 1.0], False),
    "yolo-pose-corners": ([0.0, 0.0, 0.0], [1.0, 1.0, 1.0], False),
    "ppocr-det": ([0.485, 0.456, 0.406], [0.229, 0.224, 0.225], True),
    "ppocr-rec": ([0.5, 0.5, 0.5], [0.5, 0.5, 0.5], True),
}


def parse_triple(text, name):
    parts = [float(v) for v in text.split(",")]
    if len(parts) != 3:
        raise SystemExit("%s needs three comma-separated values: %s" % (name, text))
    return parts


def parse_size(text):
    try:
        w, h = text.lower().split("x")
        return int(w), int(h)
    except ValueError:
        raise SystemExit("--input-size must be WxH: %s" % text)


def load_source(path):
    try:
        return onnx.load(path)
    except OSError as e:
        raise SystemExit("cannot read %s: %s" % (path, e.strerror))
    except Exception as e:  # protobuf's DecodeError
        raise SystemExit("%s is not an ONNX model: %s" % (path, e))


def graph_inputs(graph):
    inits = {t.name for t in graph.initializer}
    return [i for i in graph.input if i.name not in inits]


def declared_input(graph):
    """Input 0's dims, None where the graph leaves one open."""
    inp = graph_inputs(graph)[0]
    return [d.dim_value if d.HasField("dim_value") and d.dim_value > 0 else None
            for d in inp.type.tensor_type.shape.dim]


def check_input_fits(graph, w, h, what):
    """An adapter keeps the graph's own fixed sizes: a graph exported for one
    size cannot simply be told another."""
    dims = declared_input(graph)
    name = graph_inputs(graph)[0].name
    if len(dims) != 4:
        raise adapters.LayoutError("%s: input %s has %d dims; expected N x 3 x H x W" % (what, name, len(dims)))
    if dims[1] not in (None, 3):
        raise adapters.LayoutError("%s: input %s has %d channels; expected 3" % (what, name, dims[1]))
    for dim, want, label in ((dims[2], h, "height"), (dims[3], w, "width")):
        if dim is not None and dim != want:
            raise adapters.LayoutError("%s: input %s is fixed at %s; the stage feeds %dx%d (WxH): export "
                                       "with that size or a dynamic %s" % (
                                           what, name, "x".join("?" if d is None else str(d) for d in dims),
                                           w, h, label))


def set_static_input(graph, w, h):
    inp = graph_inputs(graph)[0]
    dims = inp.type.tensor_type.shape.dim
    if len(dims) != 4:
        raise SystemExit("input %s is not 4-D" % inp.name)
    for d, v in zip(dims, (1, 3, h, w)):
        d.Clear()
        d.dim_value = v
    inp.type.tensor_type.elem_type = TensorProto.FLOAT
    return inp.name


def clear_value_info(graph):
    """Shapes recorded for dynamic inputs are stale once the input is fixed."""
    del graph.value_info[:]
    for out in graph.output:
        for d in out.type.tensor_type.shape.dim:
            d.Clear()


def prepend_input_conv(graph, input_name, mean, std, bgr, scale255):
    """raw 0..255 RGB -> what the source graph expects, as one 1x1 conv."""
    scale = 1.0 / 255.0 if scale255 else 1.0
    weight = np.zeros((3, 3, 1, 1), np.float32)
    bias = np.zeros(3, np.float32)
    for out_ch in range(3):
        in_ch = 2 - out_ch if bgr else out_ch
        weight[out_ch, in_ch, 0, 0] = scale / std[out_ch]
        bias[out_ch] = -mean[out_ch] / std[out_ch]
    raw_name = input_name
    fed_name = input_name + "_prepared"
    for node in graph.node:
        for i, name in enumerate(node.input):
            if name == raw_name:
                node.input[i] = fed_name
    for out in graph.output:
        if out.name == raw_name:
            raise SystemExit("input feeds an output directly; nothing to compile")
    graph.initializer.extend([
        numpy_helper.from_array(weight, raw_name + "_prep_w"),
        numpy_helper.from_array(bias, raw_name + "_prep_b"),
    ])
    conv = helper.make_node("Conv", [raw_name, raw_name + "_prep_w", raw_name + "_prep_b"],
                            [fed_name], name=raw_name + "_prep", kernel_shape=[1, 1])
    graph.node.insert(0, conv)


def prepend_pool(graph, input_name, factor):
    """Average-pool the raw input by `factor` before everything else: the
    model takes the full size while the source graph runs at a fraction."""
    pooled = input_name + "_pooled"
    for node in graph.node:
        for i, name in enumerate(node.input):
            if name == input_name:
                node.input[i] = pooled
    pool = helper.make_node("AveragePool", [input_name], [pooled], name=input_name + "_pool",
                            kernel_shape=[factor, factor], strides=[factor, factor])
    graph.node.insert(0, pool)


def drop_unused_constants(graph):
    used = set()
    for node in graph.node:
        used.update(node.input)
    used.update(o.name for o in graph.output)
    keep = [n for n in graph.node if n.op_type != "Constant" or n.output[0] in used]
    dropped = len(graph.node) - len(keep)
    del graph.node[:]
    graph.node.extend(keep)
    inits = [t for t in graph.initializer if t.name in used]
    del graph.initializer[:]
    graph.initializer.extend(inits)
    return dropped


def run_once(path, w, h, seed=0):
    """Load with cv2.dnn and run one random picture: (output names, arrays).
    Outputs are asked for by graph name, as the runtime does."""
    import cv2
    net = cv2.dnn.readNetFromONNX(path)
    rng = np.random.default_rng(seed)
    blob = rng.integers(0, 256, size=(1, 3, h, w)).astype(np.float32)
    net.setInput(blob)
    names = [o.name for o in onnx.load(path).graph.output]
    try:
        outs = net.forward(names)
    except cv2.error:
        names = list(net.getUnconnectedOutLayersNames())
        outs = net.forward(names)
    return names, outs


def verify(path, w, h, seed=0):
    """Load with cv2.dnn, run one random picture, return the output shapes."""
    import cv2
    try:
        names, outs = run_once(path, w, h, seed)
    except cv2.error as e:
        raise SystemExit("OpenCV cannot run the compiled model: %s" % adapters.opencv_reason(e))
    for o in outs:
        if not np.all(np.isfinite(o)):
            raise SystemExit("verification run produced non-finite values")
    return list(names), [tuple(o.shape) for o in outs]


def probe_outputs(model, w, h):
    """The graph's outputs as OpenCV computes them: [(name, shape)]."""
    with tempfile.TemporaryDirectory(prefix="compile_probe_") as tmp:
        path = os.path.join(tmp, "probe.onnx")
        onnx.save(model, path)
        try:
            names, outs = run_once(path, w, h)
        except Exception as e:  # cv2.error
            raise SystemExit("OpenCV cannot run the source graph at %dx%d: %s" % (w, h, adapters.opencv_reason(e)))
    return [(n, list(o.shape)) for n, o in zip(names, outs)]


def apply_adapter(model, adapter, w, h, options):
    graph = model.graph
    outputs = probe_outputs(model, w, h)
    if adapter == "yolo-detect":
        return adapters.yolo_detect_head(graph, outputs, w, h, options.get("top_k", 100),
                                         options.get("objectness", False))
    if adapter == "yolo-pose-corners":
        return adapters.yolo_pose_corners_head(graph, outputs, w, h, options.get("classes", 1),
                                               options.get("corner_order", [0, 1, 2, 3]))
    if adapter == "ppocr-det":
        return adapters.check_ppocr_det(outputs)
    if adapter == "ppocr-rec":
        return adapters.ppocr_rec_head(graph, outputs, options.get("dict_size"))
    raise SystemExit("unknown adapter %s" % adapter)


def check_rows(adapter, path, w, h):
    """What the stage will decode from the compiled model, checked on one run."""
    _, outs = run_once(path, w, h, seed=1)
    values = outs[0].reshape(-1)
    if adapter == "yolo-detect":
        rows = values.reshape(-1, 6)
        if np.any(rows[:, 1] < 0) or np.any(rows[:, 1] > 1):
            raise adapters.LayoutError("--yolo-detect: scores outside 0..1 (%g..%g); the export must end "
                                       "in its sigmoid" % (rows[:, 1].min(), rows[:, 1].max()))
        if np.any(np.diff(rows[:, 1]) > 0):
            raise SystemExit("--yolo-detect: compiled rows are not sorted by score")


def compile_model(src, dst, w, h, mean=None, std=None, bgr=False, pool=1, quiet=False,
                  adapter=None, options=None):
    """mean/std None: the source takes 0..255 as they come (only --bgr may apply).
    pool > 1: the source graph runs on the input average-pooled by that factor.
    adapter: one of TOOLKIT_NORM's keys, with its options (see main).
    Returns the output shapes and what the adapter found."""
    model = load_source(src)
    graph = model.graph
    if not graph_inputs(graph):
        raise SystemExit("model has no input")
    if adapter:
        check_input_fits(graph, w, h, "--" + adapter)
    input_name = set_static_input(graph, w, h)
    clear_value_info(graph)
    folded = fold.fold_constants(model)
    clips = rewrites.rewrite_clips(graph)
    splits = rewrites.rewrite_splits(graph)
    axes = rewrites.rewrite_axes_inputs(graph)
    norms = rewrites.split_layer_norms(model)
    broadcasts = rewrites.rewrite_broadcast_constants(model)
    kernels = rewrites.add_kernel_shapes(graph)
    identities = rewrites.remove_identities(graph)
    normalise = mean is not None or std is not None
    if normalise or bgr:
        prepend_input_conv(graph, input_name,
                           mean if mean is not None else [0.0, 0.0, 0.0],
                           std if std is not None else [1.0, 1.0, 1.0],
                           bgr, normalise)
    if pool > 1:
        if w % pool or h % pool:
            raise SystemExit("--pool-input %d does not divide %dx%d" % (pool, w, h))
        prepend_pool(graph, input_name, pool)
    info = apply_adapter(model, adapter, w, h, options or {}) if adapter else {}
    dropped = drop_unused_constants(graph)
    tmp = dst + ".tmp"
    try:
        onnx.save(model, tmp)
    except OSError as e:
        raise SystemExit("cannot write %s: %s" % (tmp, e.strerror))
    try:
        names, shapes = verify(tmp, w, h)
        if adapter:
            check_rows(adapter, tmp, w, h)
        os.replace(tmp, dst)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)
    if not quiet:
        print("compiled %s -> %s" % (src, dst))
        print("  rewritten for OpenCV: %d nodes folded to constants, %d Clip, %d Split, %d axes inputs, "
              "%d LayerNormalization, %d broadcast constants, %d kernel shapes; identities removed: %d, "
              "unused constants dropped: %d"
              % (folded, clips, splits, axes, norms, broadcasts, kernels, identities, dropped))
        print("  input  %s: (1, 3, %d, %d) float32 RGB 0..255" % (input_name, h, w))
        for n, s in zip(names, shapes):
            print("  output %s: %s" % (n, s))
        if adapter:
            print("  %s: %s" % (adapter, ", ".join("%s=%s" % kv for kv in sorted(info.items()))))
    return shapes, info


def parse_order(text):
    try:
        order = [int(v) for v in text.split(",")]
    except ValueError:
        order = []
    if sorted(order) != [0, 1, 2, 3]:
        raise SystemExit("--corner-order needs the keypoint numbers of tl,tr,br,bl, e.g. 0,1,2,3: %s" % text)
    return order


def input_size_for(adapter, given, src):
    """The stage's own size; for the detector the source's fixed size or 640x640."""
    if adapter in STAGE_SIZE:
        size = STAGE_SIZE[adapter]
        if given and parse_size(given) != size:
            raise SystemExit("--%s: the stage feeds %dx%d; --input-size %s cannot change that"
                             % (adapter, size[0], size[1], given))
        return size
    if given:
        return parse_size(given)
    if adapter == "yolo-detect":
        dims = declared_input(load_source(src).graph)
        if len(dims) == 4 and dims[2] and dims[3]:
            return dims[3], dims[2]
        return 640, 640
    raise SystemExit("--input-size WxH is required")


def dictionary_report(path, classes):
    entries = adapters.read_dict_entries(path)
    n = len(entries)
    verdict = "fits" if classes == n + 1 else "fits; platebench appends the space class" \
        if classes == n + 2 else "does not fit"
    print("  dictionary %s: %d entries, %s" % (path, n, verdict))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("src")
    ap.add_argument("dst")
    ap.add_argument("--input-size", help="WxH (required without an adapter)")
    ap.add_argument("--mean", help="r,g,b (source channel order, 0..1 scale)")
    ap.add_argument("--std", help="r,g,b (source channel order, 0..1 scale)")
    order = ap.add_mutually_exclusive_group()
    order.add_argument("--bgr", action="store_true", default=None, help="source model expects BGR")
    order.add_argument("--rgb", dest="bgr", action="store_false", help="source model expects RGB")
    ap.add_argument("--pool-input", type=int, default=1,
                    help="run the source graph on the input average-pooled by this factor")
    ap.add_argument("--unit-range", action="store_true",
                    help="source expects 0..1 without mean/std (same as --mean 0,0,0 --std 1,1,1)")
    kind = ap.add_mutually_exclusive_group()
    for name, text in (("yolo-detect", "YOLO detect export -> plate detector rows"),
                       ("yolo-pose-corners", "YOLO pose export, 4 keypoints -> corner model"),
                       ("ppocr-det", "PaddleOCR text detector export"),
                       ("ppocr-rec", "PaddleOCR recogniser export")):
        kind.add_argument("--" + name, dest="adapter", action="store_const", const=name, help=text)
    ap.add_argument("--top-k", type=int, default=100, help="--yolo-detect: rows kept, best first")
    ap.add_argument("--objectness", action="store_true",
                    help="--yolo-detect: rows are cx,cy,w,h,objectness,classes (YOLOv5 family)")
    ap.add_argument("--classes", type=int, default=1, help="--yolo-pose-corners: class scores per anchor")
    ap.add_argument("--corner-order", default="0,1,2,3",
                    help="--yolo-pose-corners: keypoint numbers of tl,tr,br,bl")
    ap.add_argument("--dict", help="--ppocr-rec: dictionary file to check against the class count")
    args = ap.parse_args(argv)
    adapter = args.adapter
    w, h = input_size_for(adapter, args.input_size, args.src)
    mean = parse_triple(args.mean, "--mean") if args.mean else None
    std = parse_triple(args.std, "--std") if args.std else None
    if args.unit_range and mean is None and std is None:
        mean, std = [0.0, 0.0, 0.0], [1.0, 1.0, 1.0]
    bgr = args.bgr
    if adapter:
        toolkit_mean, toolkit_std, toolkit_bgr = TOOLKIT_NORM[adapter]
        if mean is None and std is None and not args.unit_range:
            mean, std = toolkit_mean, toolkit_std
        # the channel order is the model's, whatever mean and std are given
        if bgr is None:
            bgr = toolkit_bgr
    if args.top_k < 1:
        raise SystemExit("--top-k must be at least 1")
    options = {"top_k": args.top_k, "objectness": args.objectness, "classes": args.classes,
               "corner_order": parse_order(args.corner_order)}
    if args.dict:
        options["dict_size"] = len(adapters.read_dict_entries(args.dict))
    result = compile_model(args.src, args.dst, w, h, mean, std, bool(bgr), args.pool_input,
                           adapter=adapter, options=options)
    if adapter:
        print("  input normalisation: %s, mean %s, std %s" % (
            "BGR" if bgr else "RGB", mean if mean is not None else "none", std if std is not None else "none"))
    if adapter == "ppocr-rec":
        classes = result[1]["classes"]
        print("  recogniser classes: %d; the dictionary needs %d entries (%d when the last class is the "
              "space, which platebench appends)" % (classes, classes - 1, classes - 2))
        if args.dict:
            dictionary_report(args.dict, classes)
    return 0


if __name__ == "__main__":
    sys.exit(main())
