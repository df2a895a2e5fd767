/* C API of the NPU runtime as the programs use it. On the PC this is served by
 * our CPU runtime (ONNX models run through OpenCV dnn); on the board the
 * vendor's SDK header and library take its place. */
#ifndef RKNN_API_H
#define RKNN_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t rknn_context;

#define RKNN_MAX_DIMS 16
#define RKNN_MAX_NAME_LEN 256

/* return codes: 0 is success, every failure is negative */
#define RKNN_SUCC 0
#define RKNN_ERR_FAIL -1
#define RKNN_ERR_MODEL_INVALID -2
#define RKNN_ERR_PARAM_INVALID -5
#define RKNN_ERR_CTX_INVALID -7
#define RKNN_ERR_INPUT_INVALID -8
#define RKNN_ERR_OUTPUT_INVALID -9

typedef enum _rknn_query_cmd {
    RKNN_QUERY_IN_OUT_NUM = 0,
    RKNN_QUERY_INPUT_ATTR = 1,
    RKNN_QUERY_OUTPUT_ATTR = 2
} rknn_query_cmd;

typedef enum _rknn_tensor_format {
    RKNN_TENSOR_NCHW = 0,
    RKNN_TENSOR_NHWC = 1
} rknn_tensor_format;

typedef enum _rknn_tensor_type {
    RKNN_TENSOR_FLOAT32 = 0,
    RKNN_TENSOR_FLOAT16 = 1,
    RKNN_TENSOR_INT8 = 2,
    RKNN_TENSOR_UINT8 = 3,
    RKNN_TENSOR_INT16 = 4
} rknn_tensor_type;

typedef struct _rknn_input_output_num {
    uint32_t n_input;
    uint32_t n_output;
} rknn_input_output_num;

typedef struct _rknn_tensor_attr {
    uint32_t index;
    uint32_t n_dims;
    uint32_t dims[RKNN_MAX_DIMS]; /* outermost first */
    char name[RKNN_MAX_NAME_LEN];
    uint32_t n_elems;
    uint32_t size; /* bytes */
    rknn_tensor_format fmt;
    rknn_tensor_type type;
} rknn_tensor_attr;

typedef struct _rknn_input {
    uint32_t index;
    void* buf;
    uint32_t size; /* bytes in buf */
    uint8_t pass_through;
    rknn_tensor_type type;
    rknn_tensor_format fmt;
} rknn_input;

typedef struct _rknn_output {
    uint8_t want_float;
    uint8_t is_prealloc;
    uint32_t index;
    void* buf;
    uint32_t size; /* bytes in buf */
} rknn_output;

typedef struct _rknn_init_extend rknn_init_extend;
typedef struct _rknn_run_extend rknn_run_extend;
typedef struct _rknn_output_extend rknn_output_extend;

int rknn_init(rknn_context* context, void* model, uint32_t size, uint32_t flag, rknn_init_extend* extend);
int rknn_destroy(rknn_context context);
int rknn_query(rknn_context context, rknn_query_cmd cmd, void* info, uint32_t size);
int rknn_inputs_set(rknn_context context, uint32_t n_inputs, rknn_input inputs[]);
int rknn_run(rknn_context context, rknn_run_extend* extend);
int rknn_outputs_get(rknn_context context, uint32_t n_outputs, rknn_output outputs[], rknn_output_extend* extend);
int rknn_outputs_release(rknn_context context, uint32_t n_outputs, rknn_output outputs[]);

#ifdef __cplusplus
}
#endif

#endif
