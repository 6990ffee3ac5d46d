<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>CLeftView</name>
    <message>
        <source>Refreshing failed, please try again later</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CTallowdeskView</name>
    <message>
        <source>Getting file information for &quot;%1 &quot;... </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files cannot be dropped here: &quot;%1&quot; holds no files of its own.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DragTempFolder</name>
    <message>
        <source> Cannot get/access temp path.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DropRules</name>
    <message>
        <source>Not a local file: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No such file or folder: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EntryActionWorker</name>
    <message>
        <source>&quot;%1&quot; was not moved to the trash.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The star of &quot;%1&quot; was not changed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&quot;%1&quot; was not restored.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&quot;%1&quot; was not deleted forever.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EntryRules</name>
    <message>
        <source>1 item selected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 items selected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 item</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 items</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No items match &quot;%1&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This folder is empty.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There are no items here.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search results for &quot;%1&quot;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ExportFormat</name>
    <message>
        <source>Microsoft Word</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HTML Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>JPEG</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Document Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PDF</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PNG</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rich Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TXT File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zip Archive</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PowerPoint</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Flash Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Microsoft Excel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Document Spreadsheet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TSV</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SVG</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FeedCatalogue</name>
    <message>
        <source> Latest 100 items</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> All items(folders included)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Owned by me</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Shared with me</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Starred</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Documents</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Presentations</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Spreadsheets</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Drawings</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ListCommands</name>
    <message>
        <source>All File(*.*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&quot;%1&quot; was not renamed.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ListContextMenu</name>
    <message>
        <source>UnStar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Star</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Download...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move to trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Share...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Export to</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Rename</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Create Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Upload...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Paste	Ctrl+V</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Views</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rest&amp;ore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete For&amp;ever</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Empty Trash</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LocalServiceStarter</name>
    <message>
        <source>The local document service on %1 is not running and could not be started.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>

Starting it through systemd failed too: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the unit %1 started, but nothing answered on %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>systemctl --user start %1 did not succeed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>

The program %1 is missing.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>

%1 could not be started: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 runs, but nothing answered on %2 within %3 seconds.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 stopped at once.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Its last words (%1):
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 did not finish in time.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the folder of %1 cannot be created.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SessionEnd</name>
    <message>
        <source>Files are still being transferred. Wait until the transfer has ended, or cancel it, then sign out.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files are still being transferred. Wait until the transfer has ended, or cancel it, then switch account.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ShareWorkers</name>
    <message>
        <source>%1  failed: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Is owner</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can view</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Get ACL informaiton failed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Operation failed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>user deletion failed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sharing failed.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SignInFlow</name>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Login failed! </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A connection problem or a changing of Google&apos;s service occurs, some uploading operations may not work. Please make sure your Internat connection is available and upgrade Tallowdesk to the latest version.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StarLabel</name>
    <message>
        <source>UnStar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Star</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add star</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TransferFigures</name>
    <message>
        <source>%1 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 min %2 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1% done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1, %2 left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (%2 bytes)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TransferProgressDlg</name>
    <message>
        <source>The uploading/downloading process is finished, but errors/warnings happen. Click &apos;Show Details&apos; to get more information.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TransferWorkers</name>
    <message>
        <source>Unknown reason</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::ActionHandler</name>
    <message>
        <source>Go back to previous folder
Go back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh current view
Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open the file or folder
Open file or folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload selected files
Upload files...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download selected files and folders
Download...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit the application
Exit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create new folder...
Create Folder...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share to others...
Share to others...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search...
Search...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rename the file/folder...
Rename...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move to trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete seleted items to trash
Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add star</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Star selected items 
Star selected items</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Status Bar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show or hide the status bar
Toggle StatusBar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Display items by using large icons.
Large Icons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Display items by using small icons.
Small Icons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Displays items in a list.
List</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Displays detailed information about each item in the window.
Change your view</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help Content</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help content
Get help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check for &amp;Updates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;About Tallowdesk...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Display program information, version number and copyright
About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Next Pane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Previous Pane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh tree</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Download</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Rename</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Share</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Refresh tree</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Create folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Toolbar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show or hide the toolbar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MoveToTrash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Change your view</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Go back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Upload...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Download...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Up One &amp;Level</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Go to the folder above
Up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create &amp;Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Share...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>S&amp;earch...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Re&amp;name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move to &amp;trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Large Icons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>S&amp;mall Icons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>L&amp;ist</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Arrange Icons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>by &amp;Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>by &amp;Type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>by Si&amp;ze</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>by &amp;Owner</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>by Mo&amp;dified</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Settings...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Get more Google &amp;storage</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Commands</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>S&amp;ort Items</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rest&amp;ore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Take the selected items out of the trash
Restore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete For&amp;ever</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete the selected items for good
Delete Forever</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Empty Trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete everything in the trash for good
Empty Trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>S&amp;witch Account...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign in with another account
Switch Account</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign Ou&amp;t</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign out and forget the remembered password
Sign Out</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CAboutDlg</name>
    <message>
        <source>About Tallowdesk</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Homepage:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your Google account space informaiton:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add storage</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tallowdesk logo</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CCaptchaDlg</name>
    <message>
        <source>Security Check</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enter the code shown above:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Security code picture</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CCreateFolderDlg</name>
    <message>
        <source>Please input the name of the folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder Name: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Processing...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create Folder Failed.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CExportProgressDlg</name>
    <message>
        <source>Exporting...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Speed:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 KB/s</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CLeftView</name>
    <message>
        <source>Refreshing the tree...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not read (%1). Expand again or press F5.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no reason given</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CLoginDlg</name>
    <message>
        <source>Sign in with your Google Account </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Don&apos;t have a Google Account?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Internet connection is not available.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>                    Logging in...   </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Email: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Remember me</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create one now</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CMainFrame</name>
    <message>
        <source>Toolbar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ready</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tallowdesk is still running in background...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not available in this version yet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Storage used</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CMsgDlg</name>
    <message>
        <source>Processing......</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Processing.....</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CProgressDlgModal</name>
    <message>
        <source>Finished</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CProgressDlgModeless</name>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CSearchDlg</name>
    <message>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search &amp;for:</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CSettingDlg</name>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File upload setting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Convert documents, presentations, spreadsheets,and drawings to the corresponding Google Docs formats </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Note: Converting to Google Docs formats will  cause the uploading file lose its original format.  
<byte value="xd"/>          If you just want to backup your files, do not enable this.
<byte value="xd"/>          If you want to edit and collaborate online, enable this. </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update setting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enable automatic update check.(recommended)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enabling this will check for updates  everytime Tallowdesk starts.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password setting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Store the password in the system keyring</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CShareMultiDlg</name>
    <message>
        <source>Sharing settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add people (email addresses, groups, or domains...), seperated by &quot;,&quot;:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>processing...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sharing failed for %1 of %2 items.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add people</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Permission of the people added</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sharing report</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CShareSingleDlg</name>
    <message>
        <source>Sharing settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Permissions</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select to change the visibility options:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Private - Only the people listed below can access. Sign-in required.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Public on the web - Anyone on the Internet can find and access. No sign-in required.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Description</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add people (email addresses, groups, or domains...), seperated by &quot;,&quot;:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>getting sharing information...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste this link in email or IM:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Or share the link using:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sharing settings cannot be read: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Adding users...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>changing share permissions...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Changing ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Deleting ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Visibility</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>People with access</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add people</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Permission of the people added</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Link</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CTallowdeskApp</name>
    <message>
        <source>Tallowdesk is already running, only one instance is allowed at a time.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CTallowdeskView</name>
    <message>
        <source>Files and folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search failed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The list could not be read: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CUpdaterDlg</name>
    <message>
        <source>Tallowdesk Updater</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Checking for updates ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No updates available.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version %1 is available now. Tallowdesk was installed by your system&apos;s package manager; the update comes through it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version %1 is available now, upgrade to the new version?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading new updates...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upgrade finished. You need to restart Tallowdesk for the changes to take effect.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upgrade failed. You can try it again later.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Progress</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::EntryListModel</name>
    <message>
        <source>Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Author</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last Modified</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::FolderTreeModel</name>
    <message>
        <source>loading items...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::ListCommands</name>
    <message>
        <source>Searching for &quot;%1&quot;...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search failed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Renaming... </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Deleting items ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Starring ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> UnStarring ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select the folder:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select the  folder to save to:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Large Icons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Small Icons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>List</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files cannot be pasted into &quot;%1&quot;: it holds no files of its own. Open a folder first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A name can have at most %1 characters.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Restoring items ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete &quot;%1&quot; forever? It cannot be brought back.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete these %1 items forever? They cannot be brought back.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete Forever</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Empty Trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete all %1 items in the Trash forever? They cannot be brought back.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::NameClashDlg</name>
    <message>
        <source>Name Already Taken</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A folder named &quot;%1&quot; already exists in %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A file named &quot;%1&quot; already exists in %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Do the same for &amp;all remaining folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Do the same for &amp;all remaining files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Merge</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Replace</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep &amp;Both</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Skip</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::TransferProgressDlg</name>
    <message>
        <source>Transferring Progress </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>of</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Progress:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Name: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Speed:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error happened, click &quot;Show Details&quot; button to see more information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hide Details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Background</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 KB/s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hide details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>current item</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>items in all</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Details</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
