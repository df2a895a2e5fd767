#!/usr/bin/python3
"""What platebench and cornercheck will see of a compiled model, without
running either: the tensors as the runtime describes them, and for each of
the four stages whether the model fits it and, where not, why.

Usage: inspect.py MODEL [--dict FILE]

Exit code 0 when the model fits at least one stage, 1 when it fits none,
2 when the runtime would refuse to load it."""
import sys

# This file's name would hide the standard module of that name from every
# library imported below, so its folder goes to the end of the search path.
sys.path.append(sys.path.pop(0))

import argparse  # noqa: E402

import numpy as np  # noqa: E402
import onnx  # noqa: E402

import adapters  # noqa: E402

CORNER_SIZE, TEXT_DET_SIZE, REC_SIZE = (256, 128), (640, 640), (320, 48)


def dims_text(dims):
    return "[" + ",".join(str(d) for d in dims) + "]"


def runtime_inputs(graph):
    """Inputs as the runtime takes them: an open batch runs one picture, any
    other open dimension or a non-float input refuses the model."""
    inits = {t.name for t in graph.initializer}
    inputs = []
    for inp in graph.input:
        if inp.name in inits:
            continue
        t = inp.type.tensor_type
        if t.elem_type != onnx.TensorProto.FLOAT:
            raise SystemExit("the runtime refuses this model: input %s is not float32" % inp.name)
        dims = []
        for i, d in enumerate(t.shape.dim):
            v = d.dim_value if d.HasField("dim_value") else 0
            if v <= 0 and i == 0:
                v = 1
            if v <= 0:
                raise SystemExit("the runtime refuses this model: input %s has the open dimension %d (%s); "
                                 "compile it to a fixed size" % (inp.name, i, d.dim_param or "?"))
            dims.append(v)
        if not dims:
            raise SystemExit("the runtime refuses this model: input %s has no shape" % inp.name)
        inputs.append((inp.name, dims))
    if not inputs:
        raise SystemExit("the runtime refuses this model: it has no input")
    return inputs


def runtime_outputs(path, model, inputs):
    """One OpenCV run on a grey picture: (name, dims, values) per output, dims
    as the runtime reports them (the declared static shape when it agrees)."""
    import cv2
    try:
        net = cv2.dnn.readNetFromONNX(path)
        for name, dims in inputs:
            net.setInput(np.full(dims, 128.0, np.float32), name)
        names = [o.name for o in model.graph.output]
        try:
            outs = net.forward(names)
        except cv2.error:
            outs = net.forward(net.getUnconnectedOutLayersNames())
    except cv2.error as e:
        raise SystemExit("the runtime refuses this model: OpenCV cannot run it: %s" % adapters.opencv_reason(e))
    result = []
    for out, value in zip(model.graph.output, outs):
        declared = [d.dim_value for d in out.type.tensor_type.shape.dim]
        dims = list(value.shape)
        if declared and all(d > 0 for d in declared) and int(np.prod(declared)) == value.size:
            dims = declared
        result.append((out.name, dims, value.reshape(-1)))
    return result


def picture_input(inputs, size, what):
    """Why a stage that feeds size (W, H) bytes cannot use this input, or None."""
    dims = inputs[0][1]
    want = [1, 3, size[1], size[0]]
    if dims != want:
        return "%s feeds %dx%d RGB pictures, input 0 is %s (needs %s)" % (what, size[0], size[1],
                                                                          dims_text(dims), dims_text(want))
    return None


def detector_view(inputs, outputs):
    dims = inputs[0][1]
    if len(dims) != 4 or dims[1] != 3:
        return False, "input 0 is %s; the stage feeds a W x H RGB picture to a 1x3xHxW input" % dims_text(dims)
    w, h = dims[3], dims[2]
    notes, rows_total = [], 0
    for i, (name, odims, values) in enumerate(outputs):
        if values.size % 6:
            notes.append("output %d (%d values) gives no rows" % (i, values.size))
            continue
        if not odims or odims[-1] != 6:
            return False, ("output %d is %s: platebench would cut it into %d rows of six, but its last "
                           "dimension is not 6 (a raw YOLO export needs compile.py --yolo-detect)"
                           % (i, dims_text(odims), values.size // 6))
        rows = values.reshape(-1, 6)
        second = (rows[:, 1] >= 0) & (rows[:, 1] <= 1) & (rows[:, 2] >= 0) & (rows[:, 3] >= 0)
        rows_total += len(rows)
        best = rows[np.argmax(np.where(second, rows[:, 1], rows[:, 4]))]
        layout = "score second" if second.all() else "score fifth" if not second.any() else \
            "%d score second, %d score fifth" % (second.sum(), (~second).sum())
        corners = best[2:6] if second.all() else best[0:4]
        scale = "normalised" if corners[2] <= 2.0 and corners[3] <= 2.0 else "scene pixels"
        notes.append("output %d: %d rows, %s, best corners %s on a grey picture"
                     % (i, len(rows), layout, scale))
    if not rows_total:
        return False, "no output holds rows of six values; " + "; ".join(notes)
    return True, "input %dx%d; " % (w, h) + "; ".join(notes)


def corner_view(inputs, outputs):
    why = picture_input(inputs, CORNER_SIZE, "the stage")
    if why:
        dims = inputs[0][1]
        if len(dims) == 4 and dims[1] == 3:
            why += "; cornercheck alone can run it, given the input size %d %d" % (dims[3], dims[2])
        return False, why
    n = outputs[0][2].size
    if n < 8:
        return False, "output 0 has %d values; the stage reads 8 (tl, tr, br, bl)" % n
    values = outputs[0][2][:8]
    frac = "fractions of the region" if np.all(values <= 2.0) else "region pixels (values above 2)"
    return True, "output 0 %s, first 8 values read as %s" % (dims_text(outputs[0][1]), frac)


def text_det_view(inputs, outputs):
    why = picture_input(inputs, TEXT_DET_SIZE, "the stage")
    if why:
        return False, why
    n = outputs[0][2].size
    side = int(np.sqrt(n))
    if side * side != n:
        return False, "output 0 has %d values, not a square map" % n
    return True, "output 0 %s read as a %dx%d map" % (dims_text(outputs[0][1]), side, side)


def rec_view(inputs, outputs, dict_size):
    why = picture_input(inputs, REC_SIZE, "the stage")
    if why:
        return False, why
    dims, n = outputs[0][1], outputs[0][2].size
    if len(dims) >= 3:
        steps, classes = dims[-2], dims[-1]
    elif len(dims) == 2:
        steps, classes = dims
    else:
        return True, "output 0 has no shape: classes = dictionary size + 1"
    if steps * classes > n or steps <= 0 or classes <= 0:
        return False, "output 0 %s does not hold steps x classes values" % dims_text(dims)
    text = "%d steps x %d classes; dictionary of %d entries (or %d, platebench appending the space)" % (
        steps, classes, classes - 1, classes - 2)
    if dict_size is not None:
        if classes == dict_size + 1:
            text += "; the given dictionary (%d) fits" % dict_size
        elif classes == dict_size + 2:
            text += "; the given dictionary (%d) fits once platebench appends the space" % dict_size
        else:
            return False, text + "; the given dictionary has %d entries: platebench warns and decodes " \
                                 "with a shifted alphabet" % dict_size
    return True, text


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("model")
    ap.add_argument("--dict", help="OCR dictionary to check against the recogniser's classes")
    args = ap.parse_args(argv)
    try:
        model = onnx.load(args.model)
    except Exception as e:  # protobuf's DecodeError, OSError
        print("%s: the runtime refuses this model: not an ONNX model (%s)" % (args.model, e))
        return 2
    dict_size = len(adapters.read_dict_entries(args.dict)) if args.dict else None
    try:
        inputs = runtime_inputs(model.graph)
        outputs = runtime_outputs(args.model, model, inputs)
    except SystemExit as e:
        print("%s: %s" % (args.model, e))
        return 2

    print("[RKNN] %s" % args.model)
    for i, (name, dims) in enumerate(inputs):
        print("  input[%d] name=%s dims=%s" % (i, name, dims_text(dims)))
    for i, (name, dims, values) in enumerate(outputs):
        print("  output[%d] name=%s dims=%s elems=%d" % (i, name, dims_text(dims), values.size))
    d = inputs[0][1]
    if len(d) >= 4:
        print("cornercheck: Loaded RKNN: %s input=%dx%d nhwc=0 outputs=%d" % (args.model, d[3], d[2], len(outputs)))
    stages = [("plate detector", "--plate-det-model", detector_view(inputs, outputs)),
              ("corner model", "--plate-corner-model, cornercheck", corner_view(inputs, outputs)),
              ("text detector", "--ppocr-det-model", text_det_view(inputs, outputs)),
              ("text recogniser", "--ppocr-rec-model", rec_view(inputs, outputs, dict_size))]
    for what, option, (fits, why) in stages:
        print("%-8s %s (%s): %s" % ("fits" if fits else "no", what, option, why))
    return 0 if any(fits for _, _, (fits, _) in stages) else 1


if __name__ == "__main__":
    sys.exit(main())
