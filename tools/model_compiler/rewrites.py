"""Rewrites of an ONNX graph into forms that OpenCV 4.6's dnn importer runs as
ONNX means them: each finds the nodes it is about and returns how many it
changed."""
import numpy as np
from onnx import helper, numpy_helper

import fold


def constant_values(graph):
    """Name -> numpy array for every initializer and Constant node output."""
    values = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
    for node in graph.node:
        if node.op_type == "Constant":
            for attr in node.attribute:
                if attr.name == "value":
                    values[node.output[0]] = numpy_helper.to_array(attr.t)
    return values


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


def rewrite_splits(graph):
    """From opset 13 Split takes its sizes as an input, which OpenCV 4.6
    ignores: it splits evenly without a word.  Constant sizes become Slices."""
    values = constant_values(graph)
    rewritten = 0
    nodes = []
    for node in graph.node:
        if node.op_type != "Split" or len(node.input) < 2 or not node.input[1]:
            nodes.append(node)
            continue
        if node.input[1] not in values:
            raise SystemExit("Split %s: sizes are not a constant" % node.name)
        sizes = [int(v) for v in np.asarray(values[node.input[1]]).reshape(-1)]
        axis = next((a.i for a in node.attribute if a.name == "axis"), 0)
        start = 0
        for i, (size, out) in enumerate(zip(sizes, node.output)):
            tag = "%s_slice%d" % (node.name or node.output[0], i)
            graph.initializer.extend([
                numpy_helper.from_array(np.array([start], np.int64), tag + "_start"),
                numpy_helper.from_array(np.array([start + size], np.int64), tag + "_end"),
                numpy_helper.from_array(np.array([axis], np.int64), tag + "_axes"),
            ])
            nodes.append(helper.make_node("Slice", [node.input[0], tag + "_start", tag + "_end", tag + "_axes"],
                                          [out], name=tag))
            start += size
        rewritten += 1
    del graph.node[:]
    graph.node.extend(nodes)
    return rewritten


# Ops whose axes moved from an attribute to an input (opset 13 for Squeeze and
# ReduceSum, 18 for the other reductions).  OpenCV 4.6 reads only the
# attribute: it refuses Squeeze and ReduceSum so given, and a ReduceMean so
# given silently reduces every axis.
AXES_OPS = {"Squeeze", "ReduceSum", "ReduceMean", "ReduceMax", "ReduceMin", "ReduceProd", "ReduceL1",
            "ReduceL2", "ReduceLogSum", "ReduceLogSumExp", "ReduceSumSquare"}


def rewrite_axes_inputs(graph):
    values = constant_values(graph)
    rewritten = 0
    for node in graph.node:
        if node.op_type not in AXES_OPS or len(node.input) < 2 or not node.input[1]:
            continue
        if node.input[1] not in values:
            raise SystemExit("%s %s: axes are not a constant" % (node.op_type, node.name))
        axes = [int(v) for v in np.asarray(values[node.input[1]]).reshape(-1)]
        del node.input[1:]
        node.attribute.extend([helper.make_attribute("axes", axes)])
        rewritten += 1
    return rewritten


def rewrite_broadcast_constants(model, limit=1 << 22):
    """OpenCV 4.6 broadcasts a float constant in Add/Sub/Mul/Div only when it is
    a scalar, per channel, or of the output's shape: a YOLO head's strides,
    1 x anchors against 1 x 4 x anchors, are refused.  Such constants are
    spelled out at the output's shape.  It also computes constant / x as x /
    constant, so that becomes constant * Reciprocal(x)."""
    graph = model.graph
    shapes = fold.static_shapes(model)
    values = constant_values(graph)
    rewritten = 0
    nodes = []
    for node in graph.node:
        consts = [i for i, name in enumerate(node.input) if name in values]
        out = shapes.get(node.output[0])
        if node.op_type not in ("Add", "Sub", "Mul", "Div") or len(consts) != 1 or out is None:
            nodes.append(node)
            continue
        ci = consts[0]
        c = np.asarray(values[node.input[ci]])
        if c.dtype != np.float32:
            nodes.append(node)
            continue
        padded = (1,) * (len(out) - c.ndim) + c.shape
        per_channel = len(out) == 4 and padded[0] == padded[2] == padded[3] == 1
        spell_out = c.size > 1 and list(padded) != out and not per_channel and int(np.prod(out)) <= limit
        flip = node.op_type == "Div" and ci == 0
        if not spell_out and not flip:
            nodes.append(node)
            continue
        tag = (node.name or node.output[0]) + "_const"
        full = np.ascontiguousarray(np.broadcast_to(c, out))
        graph.initializer.append(numpy_helper.from_array(full, tag))
        if flip:
            recip = tag + "_recip"
            nodes.append(helper.make_node("Reciprocal", [node.input[1]], [recip], name=recip))
            nodes.append(helper.make_node("Mul", [recip, tag], list(node.output), name=node.name))
        else:
            node.input[ci] = tag
            nodes.append(node)
        rewritten += 1
    del graph.node[:]
    graph.node.extend(nodes)
    return rewritten


def split_layer_norms(model):
    """OpenCV 4.6 has no LayerNormalization (opset 17); it becomes the
    ReduceMean, Sub, Mul, Sqrt and Div it stands for."""
    graph = model.graph
    shapes = fold.static_shapes(model)
    rewritten = 0
    nodes = []
    for node in graph.node:
        if node.op_type != "LayerNormalization" or len([o for o in node.output if o]) != 1 \
                or node.input[0] not in shapes:
            nodes.append(node)
            continue
        rank = len(shapes[node.input[0]])
        axis = next((a.i for a in node.attribute if a.name == "axis"), -1) % rank
        eps = next((a.f for a in node.attribute if a.name == "epsilon"), 1e-5)
        axes = list(range(axis, rank))
        tag = node.name or node.output[0]

        def add(op, inputs, suffix, **attrs):
            out = "%s_%s" % (tag, suffix)
            nodes.append(helper.make_node(op, inputs, [out], name=out, **attrs))
            return out

        graph.initializer.append(numpy_helper.from_array(np.array(eps, np.float32), tag + "_eps"))
        mean = add("ReduceMean", [node.input[0]], "mean", axes=axes, keepdims=1)
        centred = add("Sub", [node.input[0], mean], "centred")
        var = add("ReduceMean", [add("Mul", [centred, centred], "square")], "var", axes=axes, keepdims=1)
        std = add("Sqrt", [add("Add", [var, tag + "_eps"], "var_eps")], "std")
        y = add("Mul", [add("Div", [centred, std], "normed"), node.input[1]], "scaled")
        if len(node.input) > 2 and node.input[2]:
            y = add("Add", [y, node.input[2]], "shifted")
        nodes[-1].output[0] = node.output[0]
        rewritten += 1
    del graph.node[:]
    graph.node.extend(nodes)
    return rewritten


def add_kernel_shapes(graph):
    """ONNX lets a Conv leave kernel_shape to its weights; OpenCV 4.6 refuses
    one without it."""
    values = constant_values(graph)
    added = 0
    for node in graph.node:
        if node.op_type not in ("Conv", "ConvTranspose") or len(node.input) < 2 or node.input[1] not in values:
            continue
        if any(a.name == "kernel_shape" for a in node.attribute):
            continue
        node.attribute.extend([helper.make_attribute("kernel_shape", list(values[node.input[1]].shape[2:]))])
        added += 1
    return added


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
