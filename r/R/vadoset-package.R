#' vadoset: the annual climatic water balance by the modified Thornthwaite method
#'
#' The record engine of \code{vadoset-cli} for R: \code{\link{water_balance}}
#' on matrices and data frames, \code{\link{water_balance_rast}} on
#' \code{terra} rasters, \code{\link{read_vadoset}} and
#' \code{\link{write_vadoset_table}} for the tool's own files. Monthly PET
#' comes from temperature, latitude and day length; a daily snowpack and
#' soil-water bucket with one of eight declining availability functions gives
#' monthly AET, surplus and deficit. The numbers are those of
#' \code{vadoset-cli}, to the last bit.
#'
#' @keywords internal
#' @useDynLib vadoset, .registration = TRUE
#' @importFrom Rcpp evalCpp
"_PACKAGE"
