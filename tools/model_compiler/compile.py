#!/usr/bin/python3
"""Compile an ordinary ONNX model into a runtime model for the PC.

The runtime feeds input 0 as float32 NCHW, RGB, values 0..255, and runs the
graph with OpenCV's dnn module.  This tool
  * fixes input 0 to a static 1x3xHxW shape,
  * prepends one 1x1 convolution that reorders channels (--bgr) and applies
    (x / 255 - mean) / std, so the graph takes raw 0..255 RGB,
  * rewrites nodes that OpenCV 4.6 imports wrongly or not at all
    (Clip with limit inputs, Identity nodes on weights),
  * loads the result with cv2.dnn, runs it once and prints the shapes.

Usage:
  compile.py IN.onnx OUT.rknn --input-size WxH [--mean r,g,b --std r,g,b] [--bgr]
             [--pool-input N]

--mean/--std are given in the channel order the source model expects (after
the --bgr reorder), on the 0..1 scale: the graph then computes
(x / 255 - mean) / std.  Omit both for a model that already takes 0..255.
"""
import argparse
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper, TensorProto


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


def graph_inputs(graph):
    inits = {t.name for t in graph.initializer}
    return [i for i in graph.input if i.name not in inits]


def constant_values(graph):
    """Name -> numpy array for every initializer and Constant node output."""
    values = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
    for node in graph.node:
        if node.op_type == "Constant":
            for attr in node.attribute:
                if attr.name == "value":
                    values[node.output[0]] = numpy_helper.to_array(attr.t)
    return values


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


def rewrite_clips(graph):
    """OpenCV 4.6 reads Clip limits only from attributes; limits given as
    inputs are ignored there, so the node silently becomes an identity."""
    values = constant_values(graph)
    rewritten = 0
    for node in graph.node:
        if node.op_type != "Clip" or len(node.input) < 2:
            continue
        lo = hi = None
        if len(node.input) > 1 and node.input[1]:
            if node.input[1] not in values:
                raise SystemExit("Clip %s: min is not a constant" % node.name)
            lo = float(np.asarray(values[node.input[1]]).reshape(-1)[0])
        if len(node.input) > 2 and node.input[2]:
            if node.input[2] not in values:
                raise SystemExit("Clip %s: max is not a constant" % node.name)
            hi = float(np.asarray(values[node.input[2]]).reshape(-1)[0])
        del node.input[1:]
        del node.attribute[:]
        if lo == 0.0 and hi is None:
            node.op_type = "Relu"
        else:
            node.attribute.extend([
                helper.make_attribute("min", lo if lo is not None else -3.4028234663852886e38),
                helper.make_attribute("max", hi if hi is not None else 3.4028234663852886e38),
            ])
        rewritten += 1
    return rewritten


def remove_identities(graph):
    """OpenCV 4.6 cannot import an Identity whose input is an initializer
    (the exporter emits those for shared weights); consumers are rewired to
    the Identity's input instead."""
    outputs = {o.name for o in graph.output}
    alias = {}
    keep = []
    for node in graph.node:
        if node.op_type == "Identity" and node.output[0] not in outputs:
            alias[node.output[0]] = node.input[0]
        else:
            keep.append(node)
    if not alias:
        return 0

    def resolve(name):
        while name in alias:
            name = alias[name]
        return name

    for node in keep:
        for i, name in enumerate(node.input):
            node.input[i] = resolve(name)
    del graph.node[:]
    graph.node.extend(keep)
    return len(alias)


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


def verify(path, w, h, seed=0):
    """Load with cv2.dnn, run one random picture, return the output shapes."""
    import cv2
    net = cv2.dnn.readNetFromONNX(path)
    rng = np.random.default_rng(seed)
    blob = rng.integers(0, 256, size=(1, 3, h, w)).astype(np.float32)
    net.setInput(blob)
    names = net.getUnconnectedOutLayersNames()
    outs = net.forward(names)
    for o in outs:
        if not np.all(np.isfinite(o)):
            raise SystemExit("verification run produced non-finite values")
    return list(names), [tuple(o.shape) for o in outs]


def compile_model(src, dst, w, h, mean=None, std=None, bgr=False, pool=1, quiet=False):
    """mean/std None: the source takes 0..255 as they come (only --bgr may apply).
    pool > 1: the source graph runs on the input average-pooled by that factor."""
    model = onnx.load(src)
    graph = model.graph
    if not graph_inputs(graph):
        raise SystemExit("model has no input")
    input_name = set_static_input(graph, w, h)
    clear_value_info(graph)
    clips = rewrite_clips(graph)
    identities = remove_identities(graph)
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
    dropped = drop_unused_constants(graph)
    onnx.save(model, dst)
    names, shapes = verify(dst, w, h)
    if not quiet:
        print("compiled %s -> %s" % (src, dst))
        print("  clip nodes rewritten: %d, identities removed: %d, unused constants dropped: %d"
              % (clips, identities, dropped))
        print("  input  %s: (1, 3, %d, %d) float32 RGB 0..255" % (input_name, h, w))
        for n, s in zip(names, shapes):
            print("  output %s: %s" % (n, s))
    return shapes


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("src")
    ap.add_argument("dst")
    ap.add_argument("--input-size", required=True, help="WxH")
    ap.add_argument("--mean", help="r,g,b (source channel order, 0..1 scale)")
    ap.add_argument("--std", help="r,g,b (source channel order, 0..1 scale)")
    ap.add_argument("--bgr", action="store_true", help="source model expects BGR")
    ap.add_argument("--pool-input", type=int, default=1,
                    help="run the source graph on the input average-pooled by this factor")
    ap.add_argument("--unit-range", action="store_true",
                    help="source expects 0..1 without mean/std (same as --mean 0,0,0 --std 1,1,1)")
    args = ap.parse_args(argv)
    w, h = parse_size(args.input_size)
    mean = parse_triple(args.mean, "--mean") if args.mean else None
    std = parse_triple(args.std, "--std") if args.std else None
    if args.unit_range and mean is None and std is None:
        mean, std = [0.0, 0.0, 0.0], [1.0, 1.0, 1.0]
    compile_model(args.src, args.dst, w, h, mean, std, args.bgr, args.pool_input)
    return 0


if __name__ == "__main__":
    sys.exit(main())
