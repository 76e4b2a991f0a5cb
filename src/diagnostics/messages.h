// The fixed texts the updater writes to its log, as GBK (code page 936) bytes.
#pragma once

namespace velmora::diagnostics {

// Each text is held in the bytes of code page 936 on every platform; the comment
// gives the Chinese text and its English meaning.

// 程序已开启. (the program is already running)
inline constexpr char kAlreadyRunning[] = "\xB3\xCC\xD0\xF2\xD2\xD1\xBF\xAA\xC6\xF4.";
// 启动参数数量错误. (wrong number of start arguments)
inline constexpr char kWrongArgumentCount[] = "\xC6\xF4\xB6\xAF\xB2\xCE\xCA\xFD\xCA\xFD\xC1\xBF\xB4\xED\xCE\xF3.";
// 启动参数不正确. (start arguments are not correct)
inline constexpr char kBadArguments[] = "\xC6\xF4\xB6\xAF\xB2\xCE\xCA\xFD\xB2\xBB\xD5\xFD\xC8\xB7.";
// 文件夹创建出错. (error creating the folder)
inline constexpr char kFolderCreateFailed[] = "\xCE\xC4\xBC\xFE\xBC\xD0\xB4\xB4\xBD\xA8\xB3\xF6\xB4\xED.";
// 下载XML文件出错. (error downloading the XML file)
inline constexpr char kListDownloadFailed[] = "\xCF\xC2\xD4\xD8XML\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED.";
// 不需要更新. (no update needed)
inline constexpr char kNoUpdateNeeded[] = "\xB2\xBB\xD0\xE8\xD2\xAA\xB8\xFC\xD0\xC2.";
// 解析XML文件出错. (error parsing the XML file)
inline constexpr char kListParseFailed[] = "\xBD\xE2\xCE\xF6XML\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED.";
// 解析XML文件中Application出错. (error parsing Application in the XML file)
inline constexpr char kApplicationParseFailed[] = "\xBD\xE2\xCE\xF6XML\xCE\xC4\xBC\xFE\xD6\xD0" "Application\xB3\xF6\xB4\xED.";
// 没有可更新文件. (no files to update)
inline constexpr char kNothingToUpdate[] = "\xC3\xBB\xD3\xD0\xBF\xC9\xB8\xFC\xD0\xC2\xCE\xC4\xBC\xFE.";
// 校验自更文件: (checking the self-update file: (followed by the size announced by the list))
inline constexpr char kSizeCheckPrefix[] = "\xD0\xA3\xD1\xE9\xD7\xD4\xB8\xFC\xCE\xC4\xBC\xFE:";
// 大小出错，结束本次自更。 (size error, this self-update ends)
inline constexpr char kSizeCheckSuffix[] = "\xB4\xF3\xD0\xA1\xB3\xF6\xB4\xED\xA3\xAC\xBD\xE1\xCA\xF8\xB1\xBE\xB4\xCE\xD7\xD4\xB8\xFC\xA1\xA3";
// 删除skin文件夹失败. (deleting the skin folder failed (followed by the system error code))
inline constexpr char kPackageFolderDeleteFailed[] = "\xC9\xBE\xB3\xFDskin\xCE\xC4\xBC\xFE\xBC\xD0\xCA\xA7\xB0\xDC.";
// 结束进程出错. (error ending the process)
inline constexpr char kTerminateHostFailed[] = "\xBD\xE1\xCA\xF8\xBD\xF8\xB3\xCC\xB3\xF6\xB4\xED.";
// 更新完成. (update finished)
inline constexpr char kUpdateFinished[] = "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9.";
// 替换文件出错: (error replacing the file: (followed by the installed path))
inline constexpr char kReplaceFailedPrefix[] = "\xCC\xE6\xBB\xBB\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED:";
// 解压文件出错: (error unpacking the file: (followed by the package's installed path))
inline constexpr char kUnpackFailedPrefix[] = "\xBD\xE2\xD1\xB9\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED:";
// 开始自更. (starting the self-update)
inline constexpr char kSelfUpdateStarted[] = "\xBF\xAA\xCA\xBC\xD7\xD4\xB8\xFC.";
// 下载自更文件完成. (downloading the self-update file is finished)
inline constexpr char kSelfDownloadFinished[] = "\xCF\xC2\xD4\xD8\xD7\xD4\xB8\xFC\xCE\xC4\xBC\xFE\xCD\xEA\xB3\xC9.";
// 校验自更文件大小出错，结束本次自更。 (error checking the size of the self-update file, this self-update ends)
inline constexpr char kSelfSizeCheckFailed[] = "\xD0\xA3\xD1\xE9\xD7\xD4\xB8\xFC\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xB3\xF6\xB4\xED\xA3\xAC\xBD\xE1\xCA\xF8\xB1\xBE\xB4\xCE\xD7\xD4\xB8\xFC\xA1\xA3";
// 替换自更文件完成. (replacing the self-update file is finished)
inline constexpr char kSelfReplaced[] = "\xCC\xE6\xBB\xBB\xD7\xD4\xB8\xFC\xCE\xC4\xBC\xFE\xCD\xEA\xB3\xC9.";
// 替换自更文件出错. (error replacing the self-update file)
inline constexpr char kSelfReplaceFailed[] = "\xCC\xE6\xBB\xBB\xD7\xD4\xB8\xFC\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED.";
// 配置文件更改自更文件版本信息完成. (the version of the self-update file in the update list has been changed)
inline constexpr char kSelfVersionRecorded[] = "\xC5\xE4\xD6\xC3\xCE\xC4\xBC\xFE\xB8\xFC\xB8\xC4\xD7\xD4\xB8\xFC\xCE\xC4\xBC\xFE\xB0\xE6\xB1\xBE\xD0\xC5\xCF\xA2\xCD\xEA\xB3\xC9.";
// 重启自更文件. (restarting the self-update file)
inline constexpr char kSelfRestarted[] = "\xD6\xD8\xC6\xF4\xD7\xD4\xB8\xFC\xCE\xC4\xBC\xFE.";
// 打开本地updatelist.xml失败. (opening the local updatelist.xml failed)
inline constexpr char kLocalListOpenFailed[] = "\xB4\xF2\xBF\xAA\xB1\xBE\xB5\xD8updatelist.xml\xCA\xA7\xB0\xDC.";
// 读取Velmorar节点出错. (error reading the Velmorar node)
inline constexpr char kRootNodeMissing[] = "\xB6\xC1\xC8\xA1Velmorar\xBD\xDA\xB5\xE3\xB3\xF6\xB4\xED.";
// 读取Files节点出错. (error reading the Files node)
inline constexpr char kFilesNodeMissing[] = "\xB6\xC1\xC8\xA1" "Files\xBD\xDA\xB5\xE3\xB3\xF6\xB4\xED.";

// 获取程序目录出错. (the program's own folder cannot be determined)
inline constexpr char kModuleFolderUnknown[] = "\xBB\xF1\xC8\xA1\xB3\xCC\xD0\xF2\xC4\xBF\xC2\xBC\xB3\xF6\xB4\xED.";
// 下载文件出错: (error downloading the file: (followed by its list name))
inline constexpr char kDownloadFailedPrefix[] = "\xCF\xC2\xD4\xD8\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED:";
// 校验文件出错: (the file's hash does not match: (followed by its list name))
inline constexpr char kHashCheckFailedPrefix[] = "\xD0\xA3\xD1\xE9\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED:";
// 保存配置文件出错. (error saving the update list)
inline constexpr char kSaveFailed[] = "\xB1\xA3\xB4\xE6\xC5\xE4\xD6\xC3\xCE\xC4\xBC\xFE\xB3\xF6\xB4\xED.";
// 启动程序出错: (error starting the program: (followed by its path))
inline constexpr char kStartFailedPrefix[] = "\xC6\xF4\xB6\xAF\xB3\xCC\xD0\xF2\xB3\xF6\xB4\xED:";
// 更新已回滚. (the update was rolled back: every file is as before the run)
inline constexpr char kRunRolledBack[] = "\xB8\xFC\xD0\xC2\xD2\xD1\xBB\xD8\xB9\xF6.";
// 恢复中断的更新: (restoring after an interrupted update: (followed by the path put back))
inline constexpr char kRestoredPrefix[] = "\xBB\xD6\xB8\xB4\xD6\xD0\xB6\xCF\xB5\xC4\xB8\xFC\xD0\xC2:";
// 校验XML文件签名出错. (error checking the signature of the XML file)
inline constexpr char kSignatureCheckFailed[] = "\xD0\xA3\xD1\xE9XML\xCE\xC4\xBC\xFE\xC7\xA9\xC3\xFB\xB3\xF6\xB4\xED.";
// 未配置更新公钥. (no update key is configured)
inline constexpr char kNoUpdateKey[] = "\xCE\xB4\xC5\xE4\xD6\xC3\xB8\xFC\xD0\xC2\xB9\xAB\xD4\xBF.";

// 读取更新公钥出错. (error reading the update key: it exists but cannot be read)
inline constexpr char kUpdateKeyUnreadable[] = "\xB6\xC1\xC8\xA1\xB8\xFC\xD0\xC2\xB9\xAB\xD4\xBF\xB3\xF6\xB4\xED.";
// 更新列表已过期. (the update list has expired)
inline constexpr char kListExpired[] = "\xB8\xFC\xD0\xC2\xC1\xD0\xB1\xED\xD2\xD1\xB9\xFD\xC6\xDA.";
// 回滚更新出错: (error rolling back the update: (followed by the path that could not be put back))
inline constexpr char kRollbackFailedPrefix[] = "\xBB\xD8\xB9\xF6\xB8\xFC\xD0\xC2\xB3\xF6\xB4\xED:";

}  // namespace velmora::diagnostics
