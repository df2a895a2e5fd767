"""Once the input size is fixed, the shape arithmetic a dynamic export carries
(Shape, Gather, Range, Expand, ConstantOfShape ...) has one value.  OpenCV 4.6
imports some of it and not Range, so it is evaluated here and put in as
constants."""
import numpy as np
import onnx
from onnx import helper, mapping, numpy_helper

# Folded values are shape arithmetic and anchor grids; a larger one is left to
# the graph rather than stored in the file.
MAX_FOLDED = 1 << 22


def static_shapes(model):
    """Tensor name -> dims for every tensor whose shape ONNX infers fully."""
    try:
        inferred = onnx.shape_inference.infer_shapes(model)
    except Exception:  # an op this onnx does not know: nothing is inferred
        return {}
    shapes = {}
    g = inferred.graph
    for vi in list(g.value_info) + list(g.input) + list(g.output):
        t = vi.type.tensor_type
        if t.HasField("shape") and all(d.HasField("dim_value") for d in t.shape.dim):
            shapes[vi.name] = [d.dim_value for d in t.shape.dim]
    return shapes


def attr(node, name, default=None):
    for a in node.attribute:
        if a.name == name:
            return helper.get_attribute_value(a)
    return default


def axes_of(node, args):
    """Axes from the attribute (before opset 13) or the second input."""
    axes = attr(node, "axes")
    if axes is None and len(args) > 1 and args[1] is not None:
        axes = args[1].tolist()
    return [int(a) for a in (axes or [])]


def unsqueeze(node, x, *rest):
    axes = axes_of(node, (x,) + rest)
    rank = x.ndim + len(axes)
    for a in sorted(a % rank for a in axes):
        x = np.expand_dims(x, a)
    return x


def squeeze(node, x, *rest):
    axes = axes_of(node, (x,) + rest)
    return np.squeeze(x, axis=tuple(axes)) if axes else np.squeeze(x)


def reshape(node, x, shape):
    shape = [int(v) for v in shape]
    if not attr(node, "allowzero", 0):
        shape = [x.shape[i] if v == 0 else v for i, v in enumerate(shape)]
    return x.reshape(shape)


def slice_(node, x, starts, ends, axes=None, steps=None):
    axes = range(len(starts)) if axes is None else axes
    steps = [1] * len(starts) if steps is None else steps
    index = [slice(None)] * x.ndim
    for s, e, a, st in zip(starts, ends, axes, steps):
        index[int(a)] = slice(int(s), int(e), int(st))
    return x[tuple(index)]


def divide(node, a, b):
    if np.issubdtype(a.dtype, np.integer):
        # ONNX integer division truncates toward zero
        return (np.sign(a) * np.sign(b) * (np.abs(a) // np.abs(b))).astype(a.dtype)
    return a / b


def constant_of_shape(node, shape):
    value = attr(node, "value")
    fill = numpy_helper.to_array(value).reshape(-1)[0] if value is not None else np.float32(0)
    return np.full([int(v) for v in shape], fill, dtype=np.asarray(fill).dtype)


EVAL = {
    "Gather": lambda n, x, i: np.take(x, i, axis=attr(n, "axis", 0)),
    "Cast": lambda n, x: x.astype(mapping.TENSOR_TYPE_TO_NP_TYPE[attr(n, "to")]),
    "Range": lambda n, start, limit, delta: np.arange(start, limit, delta).astype(start.dtype),
    "Add": lambda n, a, b: a + b,
    "Sub": lambda n, a, b: a - b,
    "Mul": lambda n, a, b: a * b,
    "Div": divide,
    "Neg": lambda n, x: -x,
    "Floor": lambda n, x: np.floor(x),
    "Ceil": lambda n, x: np.ceil(x),
    "Unsqueeze": unsqueeze,
    "Squeeze": squeeze,
    "Concat": lambda n, *xs: np.concatenate(xs, axis=attr(n, "axis")),
    "Reshape": reshape,
    "Expand": lambda n, x, shape: x * np.ones([int(v) for v in shape], x.dtype),
    "ConstantOfShape": constant_of_shape,
    "Slice": slice_,
    "Transpose": lambda n, x: np.transpose(x, attr(n, "perm")),
    "Equal": lambda n, a, b: np.equal(a, b),
    "Less": lambda n, a, b: np.less(a, b),
    "Greater": lambda n, a, b: np.greater(a, b),
    "Not": lambda n, x: np.logical_not(x),
    "Where": lambda n, c, a, b: np.where(c, a, b),
    "Tile": lambda n, x, reps: np.tile(x, [int(r) for r in reps]),
    "Identity": lambda n, x: x,
}


def fold_constants(model):
    """Evaluates every node whose inputs are all known, and every Shape of a
    tensor whose shape is; returns how many nodes became constants."""
    graph = model.graph
    shapes = static_shapes(model)
    values = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
    for node in graph.node:
        if node.op_type == "Constant" and attr(node, "value") is not None:
            values[node.output[0]] = numpy_helper.to_array(attr(node, "value"))
    outputs = {o.name for o in graph.output}
    keep, folded = [], 0
    for node in graph.node:
        result = None
        if len(node.output) == 1 and node.output[0] not in outputs and node.op_type != "Constant":
            args = [values.get(name) if name else None for name in node.input]
            if node.op_type == "Shape" and node.input[0] in shapes:
                dims = shapes[node.input[0]]
                result = np.array(dims[attr(node, "start", 0):attr(node, "end", len(dims))], np.int64)
            elif node.op_type in EVAL and all(a is not None or not name for a, name in zip(args, node.input)):
                try:
                    result = np.asarray(EVAL[node.op_type](node, *args))
                except Exception:  # an input this evaluator does not cover: OpenCV gets the node
                    result = None
        if result is None or result.size > MAX_FOLDED:
            keep.append(node)
            continue
        values[node.output[0]] = result
        graph.initializer.append(numpy_helper.from_array(result, node.output[0]))
        folded += 1
    del graph.node[:]
    graph.node.extend(keep)
    return folded
